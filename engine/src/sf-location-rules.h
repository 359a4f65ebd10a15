#pragma once

#include <glib.h>

G_BEGIN_DECLS

/* The protected folders are "/", the home folder, its MyDocs, the configured documents folder and
 * MYDOCSDIR, the GConf directory (configured, else ~/.gconf), the mount points of the internal
 * memory, the memory card and the fake cards, and each one's backups folder. They are judged by
 * their text and, where they exist, by where their links lead. */

/* Whether path is a protected folder or above one. A backup deletes what it packs from ordinary
 * locations, so none of these may be one. Any thread. */
gboolean _sf_location_rules_covers_protected_folder (const gchar *path);

/* Whether a permanent location at path would have a restore remove a protected folder: the same
 * rule, except that the GConf directory itself may be a permanent location when categories is
 * the settings category alone. Any thread. */
gboolean _sf_location_rules_permanent_covers_protected_folder (const gchar *path,
                                                               guint32 categories);

/* Whether path is directory itself or lies below it, after "." and ".." are resolved in both. Any
 * thread. */
gboolean _sf_location_rules_is_same_or_below (const gchar *path, const gchar *directory);

G_END_DECLS
