#include "sf-startup-flags.h"

#include "sf-log.h"

#include <glib/gstdio.h>

namespace
{
void
remove_flag (const gchar *name)
{
  g_autofree gchar *path = g_build_filename (g_get_home_dir (), name, NULL);
  if (g_unlink (path) != 0)
    SF_LOG_DEBUG ("Could not remove startup flag filename: '%s'.", path);
}
} // namespace

void
sf_backend_add_restore_flag (void)
{
  SF_LOG_DEBUG ("Backend: Adding restore flag\n");
  g_autofree gchar *dir = g_build_filename (g_get_home_dir (), ".safehold", NULL);
  g_mkdir_with_parents (dir, 0755);
  g_autofree gchar *path = g_build_filename (dir, "startup-restored-flag", NULL);
  g_file_set_contents (path, "This file is generated automatically, do not delete it.", -1, NULL);
}

void
sf_backend_remove_startup_flags (void)
{
  SF_LOG_DEBUG ("Backend: Removing startup flag\n");
  remove_flag ("first-boot-flag");
  remove_flag (".suw_first_run");
}
