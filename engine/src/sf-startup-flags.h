#pragma once

#include <glib.h>

G_BEGIN_DECLS

/* Files in the user's home that tell the next start a restore completed. Main thread. */
void sf_backend_add_restore_flag (void);
/* Main thread. */
void sf_backend_remove_startup_flags (void);

G_END_DECLS
