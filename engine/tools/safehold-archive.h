#pragma once

/* Shared by the files of the safehold-archive tool. */

#include "sf-backup-info.h"

#include <glib.h>

#include <string>
#include <vector>

/* Exit statuses, also listed in --help. */
enum ArchiveStatus
{
  ARCHIVE_STATUS_OK = 0,
  ARCHIVE_STATUS_INCOMPLETE = 1, /* a category is damaged, or some files were not extracted */
  ARCHIVE_STATUS_USAGE = 2,      /* wrong command line, no backup there, nothing could be done */
  ARCHIVE_STATUS_PASSWORD = 3,   /* the password is wrong or was not given */
  ARCHIVE_STATUS_DISK_FULL = 4,  /* DEST ran out of room */
};

/* The options every subcommand accepts; each uses the ones it needs. */
struct ArchiveOptions
{
  std::vector<std::string> arguments;
  gchar **categories = nullptr; /* names given with --category */
  gchar *password_file = nullptr;
  gboolean overwrite = FALSE;
  gboolean quiet = FALSE;
};

int archive_list (const ArchiveOptions &options);
int archive_show (const ArchiveOptions &options);
int archive_verify (const ArchiveOptions &options);
int archive_extract (const ArchiveOptions &options);

/* The backup in directory, or NULL after telling the user why there is none. */
SfBackupInfo *archive_open_backup (const std::string &directory);
/* text with control characters written as \xNN escapes, so that nothing read from a card can
 * drive the terminal. */
std::string archive_escape (const gchar *text);

/* "2026-12-06 10:19" in local time. */
std::string archive_format_time (gint64 seconds);

/* The password of a protected backup: from the password file, else asked for without echo when
 * the standard input is a terminal. NULL (and *status set) after telling the user what to do;
 * an empty string for a backup without protection. Free with archive_password_free. */
gchar *archive_password_get (SfBackupInfo *info, const ArchiveOptions &options, int *status);
void archive_password_free (gchar *password);

/* A bar on the standard error of bytes done of a total, drawn only on a terminal. */
struct ArchiveProgress
{
  guint64 total = 0;
  guint64 done = 0;
  gboolean enabled = FALSE;
  gboolean drawn = FALSE;
  gint64 last_draw = 0;
};

void archive_progress_start (ArchiveProgress *progress, guint64 total, gboolean quiet);
void archive_progress_add (ArchiveProgress *progress, guint64 bytes);
/* Takes the bar off the line before a message is printed; the next addition draws it again. */
void archive_progress_clear (ArchiveProgress *progress);
