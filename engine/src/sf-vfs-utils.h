#pragma once

#include <gio/gio.h>

G_BEGIN_DECLS

/* Every function may run on any thread; none keeps state. */

/* Writes the whole buffer, repeating partial writes; returns the first write error or NULL. Returns
 * NULL or an error to free (g_error_free). */
GError *sf_vfs_utils_write (GOutputStream *output, gconstpointer buffer, gint64 size);
/* The same on a descriptor, repeating interrupted writes too; FALSE with errno set on failure. */
gboolean sf_vfs_utils_write_fd (gint fd, gconstpointer buffer, gsize size);

/* The files below the include paths (C-escaped, as sf_backup_locations_get_uris gives them),
 * symbolic links followed, less those whose path matches one of the glob patterns. Returns an
 * owned list of SfFileEntry sorted by path, each path once. Free with sf_file_entry_list_free. */
GSList *sf_vfs_utils_build_file_list (GSList *include_paths, GSList *exclusion_patterns);
/* The same, and fills walked_files and walked_size with the files the walk found (each path once)
 * before the patterns were applied, and their bytes. */
GSList *sf_vfs_utils_build_file_list_counted (GSList *include_paths, GSList *exclusion_patterns,
                                              guint32 *walked_files, guint64 *walked_size);

/* Counts the regular files at or below the plain paths and their bytes. */
void sf_vfs_utils_count_files (GSList *paths, guint32 *num_files, guint64 *size);

/* Empties the directory; symbolic links are deleted, never followed. Returns the last error.
 * Returns NULL or an error to free (g_error_free). */
GError *sf_vfs_utils_remove_directory (GFile *directory);

/* Returns NULL or an error to free (g_error_free). */
GError *sf_vfs_utils_uri_get_file_type (GFile *file, GFileType *type);

/* Creates a new file with a random name of 8 letters in directory and gives it the mode. *output
 * and *file are new references (g_object_unref); returns NULL or an error to free. */
GError *sf_vfs_utils_create_temp_file (GOutputStream **output, GFile *directory, guint32 mode,
                                       GFile **file);

/* Returns NULL or an error to free (g_error_free). */
GError *sf_vfs_utils_uri_get_timestamp (GFile *file, gint64 *seconds);
/* Returns NULL or an error to free (g_error_free). */
GError *sf_vfs_utils_uri_set_mode (const gchar *path, guint32 mode);
/* A time of 0 or less leaves the modification time as it is. Returns NULL or an error to free
 * (g_error_free). */
GError *sf_vfs_utils_uri_set_timestamp_and_mode (const gchar *path, gint64 seconds, guint32 mode);

G_END_DECLS
