#pragma once

#include <glib.h>

G_BEGIN_DECLS

void sf_utils_reboot (void);
void sf_utils_suggest_gconf_sync (void);
void sf_utils_shutdown_gconfd (void);
gchar *sf_utils_expand_path (const gchar *text);
const gchar *sf_utils_get_software_version (void);
gchar *sf_utils_get_install_home (void);

G_END_DECLS
