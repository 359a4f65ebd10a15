#pragma once

#include "sf-category.h"

#include <glib.h>

G_BEGIN_DECLS

/* One entry of a backup's "permanent_file_list.xml" as read back. */
typedef struct
{
  gchar *name;
  gchar *fullpath;
  guint32 hash;
  SfCategory category;
} SfPermanentFile;

/* entries: a list of SfBackupUriInfo, staying the caller's. The list replaces the backup's earlier
 * one whole or not at all: FALSE with an SF_ERROR when it could not be written. Main thread. */
gboolean sf_backend_save_permanent_file_list (GSList *entries, const gchar *backups_uri,
                                              const gchar *backup_name, GError **error);
/* A list of SfPermanentFile, empty when the backup has no readable list. Free with
 * sf_backend_free_permanent_file_list. Any thread. */
GSList *sf_backend_load_permanent_file_list (const gchar *backup_dir_path);
/* Any thread. */
void sf_backend_free_permanent_file_list (GSList *list);

/* The part of filename after its last "/". Returns a copy (g_free). Any thread. */
gchar *_sf_backend_parse_absolute_filename (const gchar *filename);

G_END_DECLS
