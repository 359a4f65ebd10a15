#include "sf-user-files.h"

#include "sf-file-entry.h"

/* The categories only say what the container is for; it starts empty whatever they are. */
SfUserFiles *
sf_user_files_new (G_GNUC_UNUSED guint32 categories)
{
  return g_new0 (SfUserFiles, 1);
}

guint64
sf_user_files_get_size (SfUserFiles *files, guint32 categories)
{
  g_return_val_if_fail (files != NULL, 0);

  guint64 size = 0;
  for (gint index = 0; index < SF_CATEGORY_COUNT; index++)
    if (categories & sf_category_from_index (index))
      size += files->sizes[index];
  return size;
}

guint32
sf_user_files_get_num_files (SfUserFiles *files, guint32 categories)
{
  g_return_val_if_fail (files != NULL, 0);

  guint32 num_files = 0;
  for (gint index = 0; index < SF_CATEGORY_COUNT; index++)
    if (categories & sf_category_from_index (index))
      num_files += files->num_files[index];
  return num_files;
}

void
sf_user_files_free (SfUserFiles *files)
{
  if (files == NULL)
    return;
  for (GSList *list : files->files)
    sf_file_entry_list_free (list);
  g_free (files);
}
