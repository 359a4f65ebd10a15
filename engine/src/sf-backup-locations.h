#pragma once

#include "sf-category.h"

#include <glib.h>

G_BEGIN_DECLS

/* A table is not locked: it is filled on one thread and may be read on any once it is complete. */

/* One path declared by an application's configuration. */
typedef struct
{
  gchar *appl_name;
  gchar *path;
  guint32 categories;
  gboolean is_dir;
  gboolean is_exclusion;
  /* Reached through a declared ancestor of the same kind, so skipped when lists are built. */
  gboolean redundant;
} SfBackupLocation;

/* Path -> SfBackupLocation; a path is declared at most once. */
typedef GHashTable SfBackupLocations;

/* An include path or exclusion pattern with the categories of the entry it came from. */
typedef struct
{
  gchar *uri;
  guint32 categories;
} SfBackupUriInfo;

/* Returns a table the caller frees (sf_backup_locations_free). Any thread. */
SfBackupLocations *sf_backup_locations_new (void);
/* Any thread. */
void sf_backup_locations_free (SfBackupLocations *locations);

/* Copies the texts. The thread that fills the table. */
gboolean _sf_backup_locations_add_location (SfBackupLocations *locations, const gchar *appl_name,
                                            const gchar *path, guint32 categories, gboolean is_dir,
                                            gboolean is_exclusion);
/* The thread that fills the table. */
void _sf_backup_locations_remove_redundancies (SfBackupLocations *locations);

/* Owned strings sorted byte-wise: the include paths (C-escaped) or the exclusion patterns. Free
 * with g_slist_free_full and g_free. Any thread. */
GSList *sf_backup_locations_get_uris (SfBackupLocations *locations, guint32 categories,
                                      gboolean exclusions);
/* The same strings as an unsorted list of owned SfBackupUriInfo. Free with g_slist_free_full and
 * sf_backup_uri_info_free. Any thread. */
GSList *sf_backup_locations_get_uri_infos (SfBackupLocations *locations, guint32 categories,
                                           gboolean exclusions);
/* Any thread. */
void sf_backup_uri_info_free (SfBackupUriInfo *info);

/* The files and bytes a backup of the categories takes from the table. Fills the outputs. Any
 * thread. */
void sf_backup_locations_count_data (SfBackupLocations *locations, guint32 categories,
                                     guint32 *num_files, guint64 *size);
/* The same for one category without walking its include paths again: walked_files and
 * walked_size are what a walk of them met (sf_vfs_utils_build_file_list_counted over the paths
 * sf_backup_locations_get_uris gives for the category); only the exclusions are looked at. Fills
 * the outputs. Any thread. */
void sf_backup_locations_count_walked (SfBackupLocations *locations, SfCategory category,
                                       guint32 walked_files, guint64 walked_size,
                                       guint32 *num_files, guint64 *size);

G_END_DECLS
