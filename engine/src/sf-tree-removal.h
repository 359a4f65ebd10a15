#pragma once

#include <gio/gio.h>
#include <sys/types.h>

G_BEGIN_DECLS

/* Removes path with everything below it, except what one of exclusion_patterns (glob patterns on
 * absolute paths, as sf_backup_locations_get_uris gives them; NULL for none) matches and the
 * folders that hold such. A link is removed as a link, never followed; folders are walked through
 * descriptors, so that a link swapped in on the way leads nowhere. The walk goes on past what it
 * cannot remove; FALSE with error (G_IO_ERROR, G_IO_ERROR_NOT_FOUND for a missing path) for the
 * first such. Any thread. */
gboolean sf_tree_removal_remove (const gchar *path, GSList *exclusion_patterns, GError **error);

/* Removes the current content of a location of the given categories before a restore puts files
 * back, as above, sparing what the exclusions of those categories in both location tables match:
 * no backup holds it, so no restore could bring it back. A location that leads to a protected
 * folder is refused whole; a missing one is no error. Any thread, while the tables are unchanged.
 */
gboolean sf_tree_removal_clear_location (const gchar *path, guint32 categories, GError **error);

/* Told of one file a removal would free: the file system it is on and the bytes it takes there. */
typedef void (*SfTreeRemovalFreedFunc) (dev_t device, guint64 bytes, gpointer user_data);

/* Walks path as sf_tree_removal_clear_location would clear it, removing nothing, and calls func
 * for each file whose removal would free its blocks: what the exclusions spare, files linked
 * elsewhere too and what cannot be read count for nothing. Any thread, while the tables are
 * unchanged. */
void sf_tree_removal_measure_location (const gchar *path, guint32 categories,
                                       SfTreeRemovalFreedFunc func, gpointer user_data);

G_END_DECLS
