#include "sf-log.h"

namespace
{
/* Set once at start-up, read from every thread. */
gint log_threshold = 1;
} // namespace

void
sf_log_start (gint threshold)
{
  g_atomic_int_set (&log_threshold, threshold);
  SF_LOG_DEBUG ("Started");
}

void
sf_log_stop (void)
{
  SF_LOG_DEBUG ("Stopped");
}

gboolean
sf_log_enabled (gint level)
{
  return level <= g_atomic_int_get (&log_threshold);
}
