#pragma once

#include <glib.h>

G_BEGIN_DECLS

/* Level 1 lines are errors, level 2 lines diagnostics. A line of level n is written when n is not
 * above the threshold set by sf_log_start. Main thread, before any worker runs. */
void sf_log_start (gint threshold);
/* Main thread, once no worker runs. */
void sf_log_stop (void);
/* Any thread. */
gboolean sf_log_enabled (gint level);

G_END_DECLS

/* Every engine log line starts with the source path and line of the statement. */
#define SF_LOG_AT(level, priority, format, ...)                                                    \
  G_STMT_START                                                                                     \
  {                                                                                                \
    if (sf_log_enabled (level))                                                                    \
      g_log (NULL, priority, __FILE__ ":" G_STRINGIFY (__LINE__) ": " format, ##__VA_ARGS__);      \
  }                                                                                                \
  G_STMT_END

/* An error: something failed. */
#define SF_LOG_ERROR(format, ...) SF_LOG_AT (1, G_LOG_LEVEL_CRITICAL, format, ##__VA_ARGS__)
/* A diagnostic about progress. */
#define SF_LOG_DEBUG(format, ...) SF_LOG_AT (2, G_LOG_LEVEL_DEBUG, format, ##__VA_ARGS__)
/* A diagnostic about suspicious input. */
#define SF_LOG_WARNING(format, ...) SF_LOG_AT (2, G_LOG_LEVEL_WARNING, format, ##__VA_ARGS__)
