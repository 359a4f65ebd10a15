#pragma once

#include <gio/gio.h>

G_BEGIN_DECLS

/* Writes the whole buffer, repeating partial writes; returns the first write error or NULL. */
GError *sf_vfs_utils_write (GOutputStream *output, gconstpointer buffer, gint64 size);

G_END_DECLS
