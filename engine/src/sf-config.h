#pragma once

#include <gio/gio.h>

G_BEGIN_DECLS

/* Read once on the main thread at start-up; afterwards any thread may read it until sf_config_free.
 */

/* The engine configuration, read once from "safehold.conf" at start-up. */
typedef struct _SfConfig SfConfig;

/* Main thread. */
void sf_config_init (const gchar *dir);
/* Borrowed, valid until sf_config_free, NULL before sf_config_init. Any thread. */
SfConfig *sf_config_get (void);
/* Main thread. */
void sf_config_free (void);

/* Borrowed, valid until sf_config_free. Any thread. */
GFile *sf_config_get_gconf_dir (SfConfig *config);
/* Borrowed, valid until sf_config_free. Any thread. */
GFile *sf_config_get_documents_dir (SfConfig *config);
/* The documents folder the file named, or the default it implies, even when MYDOCSDIR overrides
 * it; NULL when no valid file was read. Borrowed, valid until sf_config_free. Any thread. */
GFile *_sf_config_get_configured_documents_dir (SfConfig *config);
/* Any thread. */
gint sf_config_get_app_killer_delay (SfConfig *config);

G_END_DECLS
