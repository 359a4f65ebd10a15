#pragma once

#include <gio/gio.h>

G_BEGIN_DECLS

/* The engine configuration, read once from "safehold.conf" at start-up. */
typedef struct _SfConfig SfConfig;

void sf_config_init (const gchar *dir);
SfConfig *sf_config_get (void);
void sf_config_free (void);

GFile *sf_config_get_gconf_dir (SfConfig *config);
GFile *sf_config_get_documents_dir (SfConfig *config);
gint sf_config_get_app_killer_delay (SfConfig *config);

G_END_DECLS
