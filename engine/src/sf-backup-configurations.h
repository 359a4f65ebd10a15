#pragma once

#include "sf-backup-locations.h"
#include "sf-category.h"

#include <gio/gio.h>

G_BEGIN_DECLS

/* The tables are filled once at start-up on the main thread and only read afterwards, so every
 * look-up may run on any thread, as the worker's script runs do; init and free only on the main
 * thread while no operation runs. Texts and lists handed out are borrowed from the tables and valid
 * until sf_backup_configurations_free, unless a line says otherwise. */

/* How an application takes part in backup and restore; at least one is set. */
typedef struct
{
  gboolean dbus;
  gboolean scripts;
  gboolean permanent_files;
} SfBackupMethod;

typedef struct
{
  gint32 flags; /* always 0 when read from a configuration file */
  gchar *service;
  gchar *object;
} SfBackupDbusInfo;

typedef struct
{
  gchar *backup_script;
  gchar *restore_script;
} SfBackupScriptsInfo;

/* Reads every configuration file once; dir NULL means the installed data directory. Main thread. */
void sf_backup_configurations_init (const gchar *dir);
/* Creates the empty tables without reading any directory, for tools that check single files. Main
 * thread. */
void sf_backup_configurations_init_empty (void);
/* Main thread. */
void sf_backup_configurations_free (void);

/* Fills the given tables. Main thread. */
void backup_configurations_read_directory (SfBackupLocations *locations,
                                           SfBackupLocations *permanent_locations,
                                           const gchar *config_dir, gboolean trusted);
/* Fills the given tables. Main thread. */
gboolean backup_configurations_parse_conf_file (SfBackupLocations *locations,
                                                SfBackupLocations *permanent_locations, GFile *file,
                                                gboolean trusted);
/* The whole parser on a buffer; file_name only names the file in messages. Any thread, on tables of
 * its own. */
gboolean backup_configurations_parse_conf_buffer (SfBackupLocations *locations,
                                                  SfBackupLocations *permanent_locations,
                                                  const gchar *buffer, gsize size,
                                                  const gchar *file_name, gboolean trusted);

/* The names of the applications with data in the category (owned by the tables). Borrowed list and
 * texts. Any thread. */
GSList *sf_backup_configurations_get_applications_in_category (SfCategory category);
/* Each application with data in any category of the mask, once. Returns a new list of new
 * strings: free with g_slist_free_full (list, g_free). Main thread or the archiver's worker. */
GSList *sf_backup_configurations_get_applications_in_categories (guint32 mask);

/* 1 when found, -1 for an unknown name, -2 when the name has no method record. Fills method. Any
 * thread. */
gint sf_backup_configurations_get_backup_backup_method (const gchar *name, SfBackupMethod *method);
/* 1 when the name is known (has_dbus tells whether info was filled), -1 for an unknown name, -2
 * when an output is missing. The texts stay owned by the tables. Any thread. */
gint sf_backup_configurations_get_backup_dbus_info (const gchar *name, gboolean *has_dbus,
                                                    SfBackupDbusInfo *info);
/* The texts stay owned by the tables. Any thread. */
gint sf_backup_configurations_get_backup_scripts_info (const gchar *name, gboolean *has_scripts,
                                                       SfBackupScriptsInfo *info);

/* names stays the caller's. Main thread, while no operation runs. */
void _sf_backup_configurations_remove_applications (GSList *names);

/* Borrowed table. Any thread. */
SfBackupLocations *sf_backup_configurations_get_locations (void);
/* Borrowed table. Any thread. */
SfBackupLocations *sf_backup_configurations_get_permanent_locations (void);

/* Any thread. */
gboolean sf_backup_configurations_test_applications_installed (void);
/* Borrowed list and texts, or NULL. Any thread. */
GSList *sf_backup_configurations_get_test_applications (void);
/* Borrowed list and texts, or NULL. Any thread. */
GSList *sf_backup_configurations_get_additional_test_applications (void);

G_END_DECLS
