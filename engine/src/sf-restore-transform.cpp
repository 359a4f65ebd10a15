#include "sf-restore-transform.h"

#include "sf-log.h"
#include "sf-utils.h"
#include "sf-vfs-utils.h"

#include <glib/gstdio.h>
#include <unistd.h>

#include <string>

struct _SfRestoreTransform
{
  gint ref_count;
  GSList *files[SF_CATEGORY_COUNT]; /* owned paths, newest first */
  SfBackupInfo *backup_info;
};

namespace
{
/* Given to the scripts when the list could not be written: an empty list, not a wrong path. */
const gchar *const empty_list_file = "/dev/null";

/* Writes every category header and its restored paths into a new temporary file and returns
 * its path, or NULL. */
gchar *
write_list_file (SfRestoreTransform *transform)
{
  gchar *path = NULL;
  g_autoptr (GError) error = NULL;
  gint fd = g_file_open_tmp ("sf-files-XXXXXX", &path, &error);
  if (fd < 0)
    {
      SF_LOG_ERROR ("Could not create the restored files list: %s", error->message);
      return NULL;
    }

  std::string text;
  for (gint index = 0; index < SF_CATEGORY_COUNT; index++)
    {
      text += std::string ("[") + sf_category_to_string (sf_category_from_index (index)) + "]\n";
      for (GSList *item = transform->files[index]; item != NULL; item = item->next)
        text += std::string (static_cast<const gchar *> (item->data)) + "\n";
    }

  gboolean written = sf_vfs_utils_write_fd (fd, text.data (), text.size ()) && fsync (fd) == 0;
  written = g_close (fd, NULL) && written;
  if (!written)
    {
      SF_LOG_ERROR ("Could not write the restored files list %s", path);
      g_unlink (path);
      g_clear_pointer (&path, g_free);
    }
  return path;
}
} // namespace

SfRestoreTransform *
sf_restore_transform_new (SfBackupInfo *backup_info)
{
  g_return_val_if_fail (backup_info != NULL, NULL);
  SfRestoreTransform *transform = g_new0 (SfRestoreTransform, 1);
  transform->ref_count = 1;
  transform->backup_info = sf_backup_info_ref (backup_info);
  return transform;
}

SfRestoreTransform *
sf_restore_transform_ref (SfRestoreTransform *transform)
{
  g_return_val_if_fail (transform != NULL, NULL);
  g_atomic_int_inc (&transform->ref_count);
  return transform;
}

void
sf_restore_transform_unref (SfRestoreTransform *transform)
{
  g_return_if_fail (transform != NULL);
  if (!g_atomic_int_dec_and_test (&transform->ref_count))
    return;
  for (GSList *&files : transform->files)
    g_slist_free_full (files, g_free);
  sf_backup_info_unref (transform->backup_info);
  g_free (transform);
}

void
sf_restore_transform_add_file (SfRestoreTransform *transform, SfCategory category,
                               const gchar *path)
{
  g_return_if_fail (transform != NULL);
  g_return_if_fail (category >= SF_CATEGORY_CONTACTS && category <= SF_CATEGORY_MEDIA);
  g_return_if_fail (path != NULL);
  GSList *&files = transform->files[sf_category_to_index (category)];
  files = g_slist_prepend (files, g_strdup (path));
}

void
sf_restore_transform_add_uri (SfRestoreTransform *transform, SfCategory category, GFile *uri)
{
  g_return_if_fail (uri != NULL);
  g_autofree gchar *path = g_file_get_parse_name (uri);
  sf_restore_transform_add_file (transform, category, path);
}

SfCategory
sf_restore_transform_get_categories (SfRestoreTransform *transform)
{
  g_return_val_if_fail (transform != NULL, SF_CATEGORY_NONE);
  guint categories = SF_CATEGORY_NONE;
  for (gint index = 0; index < SF_CATEGORY_COUNT; index++)
    if (transform->files[index] != NULL)
      categories |= sf_category_from_index (index);
  return (SfCategory)categories;
}

void
sf_restore_transform_execute (SfRestoreTransform *transform, SfCategory categories)
{
  g_return_if_fail (transform != NULL);
  g_autofree gchar *list_file = write_list_file (transform);
  _sf_utils_run_application_scripts (categories, list_file != NULL ? list_file : empty_list_file);
  SF_LOG_DEBUG ("Finished execution of all the scripts");
  if (list_file != NULL)
    g_unlink (list_file);
}
