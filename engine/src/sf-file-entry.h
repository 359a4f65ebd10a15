#pragma once

#include <gio/gio.h>

G_BEGIN_DECLS

/* One file chosen for packing: where it is and what it was when it was chosen. */
typedef struct
{
  GFile *uri;
  GFileInfo *info;
} SfFileEntry;

SfFileEntry *sf_file_entry_new (GFile *uri, GFileInfo *file_info);
SfFileEntry *sf_file_entry_dup (const SfFileEntry *entry);
void sf_file_entry_free (SfFileEntry *entry);
void sf_file_entry_list_free (GSList *list);

G_END_DECLS
