#pragma once

#include <glib.h>

G_BEGIN_DECLS

/* Whether path is "/", the home folder, the documents folder, the GConf directory or a folder
 * above one of them, by its text and, where it exists, by where its links lead. A backup deletes
 * what it packs from ordinary locations, so none of these may be one. Any thread. */
gboolean _sf_location_rules_covers_protected_folder (const gchar *path);

/* Whether path is directory itself or lies below it, after "." and ".." are resolved in both. Any
 * thread. */
gboolean _sf_location_rules_is_same_or_below (const gchar *path, const gchar *directory);

G_END_DECLS
