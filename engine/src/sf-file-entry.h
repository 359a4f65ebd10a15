#pragma once

#include <gio/gio.h>

G_BEGIN_DECLS

/* Entries are plain records, used by one thread at a time. */

/* One file chosen for packing: where it is and what it was when it was chosen. */
typedef struct
{
  GFile *uri;
  GFileInfo *info;
} SfFileEntry;

/* Returns an entry to free (sf_file_entry_free) holding a duplicate of uri and a copy of file_info.
 */
SfFileEntry *sf_file_entry_new (GFile *uri, GFileInfo *file_info);
/* Returns a copy to free (sf_file_entry_free). */
SfFileEntry *sf_file_entry_dup (const SfFileEntry *entry);
void sf_file_entry_free (SfFileEntry *entry);
/* Frees the list and every entry in it. */
void sf_file_entry_list_free (GSList *list);

G_END_DECLS
