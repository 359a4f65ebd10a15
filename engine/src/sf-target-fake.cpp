#include "sf-target-fake.h"

#include "sf-log.h"

#include <cstdio>

#define FAKE_DIR_VARIABLE "FAKE_MMC_DIR"
#define MOUNTED_MARKER "mounted"

struct _SfTargetFake
{
  SfTarget parent_instance;
};

G_DEFINE_FINAL_TYPE (SfTargetFake, sf_target_fake, SF_TYPE_TARGET)

namespace
{
/* Fake targets are not followed after start-up; the monitor only proves the marker can be
 * watched. */
void
try_marker_monitor (const gchar *marker_path)
{
  g_autoptr (GFile) marker = g_file_new_for_path (marker_path);
  g_autoptr (GError) error = NULL;
  g_autoptr (GFileMonitor) monitor
      = g_file_monitor_file (marker, G_FILE_MONITOR_NONE, NULL, &error);
  if (monitor == NULL)
    SF_LOG_WARNING ("Couldn't set up debug fake mmc monitor:\n %s (%s)\n", marker_path,
                    error->message);
  else
    g_file_monitor_cancel (monitor);
}

SfTarget *
fake_target_for (const gchar *base_dir, const gchar *name)
{
  g_autofree gchar *relative_path = g_build_filename (base_dir, name, NULL);
  g_autofree gchar *path = g_canonicalize_filename (relative_path, NULL);
  g_autofree gchar *marker_path = g_build_filename (path, MOUNTED_MARKER, NULL);
  try_marker_monitor (marker_path);
  if (!g_file_test (marker_path, G_FILE_TEST_EXISTS))
    return NULL;
  g_autofree gchar *uri = g_filename_to_uri (path, NULL, NULL);
  return sf_target_fake_new (uri, name);
}
} // namespace

static void
sf_target_fake_class_init (SfTargetFakeClass *)
{
}

static void
sf_target_fake_init (SfTargetFake *)
{
}

SfTarget *
sf_target_fake_new (const gchar *uri, const gchar *display_name)
{
  g_return_val_if_fail (uri != NULL && uri[0] != '\0', NULL);
  g_return_val_if_fail (display_name != NULL && display_name[0] != '\0', NULL);
  return SF_TARGET (g_object_new (SF_TYPE_TARGET_FAKE, "uri", uri, "is-read-only", FALSE,
                                  "is-persistent", FALSE, "is-available", TRUE, "display-name",
                                  display_name, NULL));
}

GList *
sf_target_fake_setup (void)
{
  static gint set_up;
  if (!g_atomic_int_compare_and_exchange (&set_up, 0, 1))
    {
      SF_LOG_DEBUG ("Fake targets already set up.");
      return NULL;
    }

  const gchar *base_dir = g_getenv (FAKE_DIR_VARIABLE);
  if (base_dir == NULL)
    return NULL;
  printf ("\n\n****************BASE DIR = %s *****\n\n\n", base_dir);
  g_autoptr (GError) error = NULL;
  g_autoptr (GDir) dir = g_dir_open (base_dir, 0, &error);
  if (dir == NULL)
    {
      SF_LOG_WARNING ("Couldn't open fake MMC dir: %s", error->message);
      return NULL;
    }

  GList *targets = NULL;
  const gchar *name;
  while ((name = g_dir_read_name (dir)) != NULL)
    {
      SfTarget *target = fake_target_for (base_dir, name);
      if (target != NULL)
        targets = g_list_prepend (targets, target);
    }
  return targets;
}
