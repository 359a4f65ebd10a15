/* A one-line progress bar on the standard error, drawn only when that is a terminal. */

#include "safehold-archive.h"

#include <cstdio>
#include <unistd.h>

namespace
{
/* Redrawing more often than this only costs time. */
const gint64 redraw_interval_us = 100 * 1000;
const int bar_width = 30;

void
draw (ArchiveProgress *progress)
{
  guint64 done = MIN (progress->done, progress->total);
  int percent = progress->total > 0 ? (int)(done * 100 / progress->total) : 100;
  int filled = percent * bar_width / 100;
  std::string bar = std::string (filled, '#') + std::string (bar_width - filled, '-');
  g_autofree gchar *done_text = g_format_size (done);
  g_autofree gchar *total_text = g_format_size (progress->total);
  fprintf (stderr, "\r[%s] %3d%%  %s of %s\033[K", bar.c_str (), percent, done_text, total_text);
  fflush (stderr);
  progress->drawn = TRUE;
}
} // namespace

void
archive_progress_start (ArchiveProgress *progress, guint64 total, gboolean quiet)
{
  progress->total = total;
  progress->done = 0;
  progress->enabled = !quiet && isatty (STDERR_FILENO);
  progress->drawn = FALSE;
  progress->last_draw = 0;
  if (progress->enabled)
    draw (progress);
}

void
archive_progress_add (ArchiveProgress *progress, guint64 bytes)
{
  progress->done += bytes;
  if (!progress->enabled)
    return;
  gint64 now = g_get_monotonic_time ();
  if (progress->drawn && now - progress->last_draw < redraw_interval_us)
    return;
  progress->last_draw = now;
  draw (progress);
}

void
archive_progress_clear (ArchiveProgress *progress)
{
  if (!progress->drawn)
    return;
  fprintf (stderr, "\r\033[K");
  fflush (stderr);
  progress->drawn = FALSE;
}
