#include "sf-archiver-zip-private.h"

#include "sf-backup-configurations.h"
#include "sf-config.h"
#include "sf-log.h"
#include "sf-parallel.h"

#include <glib/gstdio.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-output-stdio.h>

G_DEFINE_FINAL_TYPE (SfArchiverZip, sf_archiver_zip, SF_TYPE_ARCHIVER)

static void
sf_archiver_zip_finalize (GObject *object)
{
  SfArchiverZip *self = SF_ARCHIVER_ZIP (object);
  g_clear_pointer (&self->backup_info, sf_backup_info_unref);
  g_clear_object (&self->gconf_dir);
  g_clear_pointer (&self->password, g_free);
  g_clear_pointer (&self->restore_transform, sf_restore_transform_unref);
  G_OBJECT_CLASS (sf_archiver_zip_parent_class)->finalize (object);
}

static void
sf_archiver_zip_class_init (SfArchiverZipClass *klass)
{
  G_OBJECT_CLASS (klass)->finalize = sf_archiver_zip_finalize;
  SF_ARCHIVER_CLASS (klass)->pack_thread_func = _sf_archiver_zip_pack_thread_func;
  SF_ARCHIVER_CLASS (klass)->unpack_thread_func = _sf_archiver_zip_unpack_thread_func;
}

static void
sf_archiver_zip_init (SfArchiverZip *)
{
}

namespace
{
SfArchiverZip *
archiver_new (SfBackupInfo *backup_info, const gchar *password)
{
  SfArchiverZip *self = SF_ARCHIVER_ZIP (g_object_new (SF_TYPE_ARCHIVER_ZIP, NULL));
  self->backup_info = sf_backup_info_ref (backup_info);
  self->locations = sf_backup_configurations_get_locations ();
  self->permanent_locations = sf_backup_configurations_get_permanent_locations ();
  SfConfig *config = sf_config_get ();
  GFile *gconf_dir = config != NULL ? sf_config_get_gconf_dir (config) : NULL;
  self->gconf_dir = gconf_dir != NULL ? G_FILE (g_object_ref (gconf_dir)) : NULL;
  self->password = password != NULL && password[0] != '\0' ? g_strdup (password) : NULL;
  return self;
}
} // namespace

SfArchiver *
sf_archiver_zip_new_backup (SfBackupInfo *backup_info, SfUserFiles *user_files, guint32 total_files,
                            guint64 total_size, const gchar *password)
{
  g_return_val_if_fail (backup_info != NULL, NULL);
  g_return_val_if_fail (user_files != NULL, NULL);
  SfArchiverZip *self = archiver_new (backup_info, password);
  self->user_files = user_files;
  self->categories = (SfCategory)sf_backup_info_get_categories (backup_info);
  self->is_restore = FALSE;
  sf_archiver_set_total_files (SF_ARCHIVER (self), total_files);
  sf_archiver_set_total_size (SF_ARCHIVER (self), total_size);
  return SF_ARCHIVER (self);
}

SfArchiver *
sf_archiver_zip_new_restore (SfBackupInfo *backup_info, SfCategory categories,
                             const gchar *password)
{
  g_return_val_if_fail (backup_info != NULL, NULL);
  SfArchiverZip *self = archiver_new (backup_info, password);
  self->categories = categories;
  self->is_restore = TRUE;
  self->restore_transform = sf_restore_transform_new (backup_info);
  return SF_ARCHIVER (self);
}

gint
_sf_archiver_zip_create_lock_file (SfArchiverZip *self)
{
  [[maybe_unused]] g_autoptr (GError) ignored = sf_backup_info_create_dir (self->backup_info);
  g_autofree gchar *dir = g_file_get_path (sf_backup_info_get_uri (self->backup_info));
  g_autofree gchar *path = g_build_filename (dir, ".sf-XXXXXX", NULL);
  gint fd = g_mkstemp (path);
  if (fd < 0)
    {
      SF_LOG_WARNING ("Couldn't create lock file '%s'", path);
      return -1;
    }
  g_unlink (path);
  return fd;
}

namespace
{
/* libgsf registers its stream types at first use without a lock: two workers opening their first
 * archives at once would register them twice and crash. */
void
ensure_stream_types (void)
{
  g_type_ensure (GSF_INPUT_STDIO_TYPE);
  g_type_ensure (GSF_OUTPUT_STDIO_TYPE);
}
} // namespace

void
_sf_archiver_zip_run_workers (guint count, const std::function<void ()> &work)
{
  ensure_stream_types ();
  sf_parallel_run (count, work);
}

void
_sf_archiver_zip_run_each (guint count, gsize items, const std::function<void (gsize)> &each)
{
  ensure_stream_types ();
  sf_parallel_run_each (count, items, each);
}
