#include "sf-file-entry.h"

SfFileEntry *
sf_file_entry_new (GFile *uri, GFileInfo *file_info)
{
  g_return_val_if_fail (G_IS_FILE (uri), NULL);
  g_return_val_if_fail (G_IS_FILE_INFO (file_info), NULL);

  SfFileEntry *entry = g_new (SfFileEntry, 1);
  entry->uri = g_file_dup (uri);
  entry->info = g_file_info_dup (file_info);
  return entry;
}

SfFileEntry *
sf_file_entry_dup (const SfFileEntry *entry)
{
  g_return_val_if_fail (entry != NULL, NULL);
  return sf_file_entry_new (entry->uri, entry->info);
}

void
sf_file_entry_free (SfFileEntry *entry)
{
  if (entry == NULL)
    return;
  g_object_unref (entry->uri);
  g_object_unref (entry->info);
  g_free (entry);
}

void
sf_file_entry_list_free (GSList *list)
{
  g_slist_free_full (list, (GDestroyNotify)sf_file_entry_free);
}
