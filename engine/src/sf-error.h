#pragma once

#include <glib.h>

G_BEGIN_DECLS

#define SF_ERROR (sf_error_quark ())

typedef enum
{
  SF_ERROR_GENERAL = 0,
  SF_ERROR_BACKUP_NO_MEMORY_CARD = 1,
  SF_ERROR_BACKUP_READ_ONLY = 2,
  SF_ERROR_BACKUP_NO_SPACE = 3,
  SF_ERROR_BACKUP_MEMORY_CARD_REMOVED = 4,
  SF_ERROR_BACKUP_FAILED = 5,
  SF_ERROR_RESTORE_NO_MEMORY_CARD = 6,
  SF_ERROR_RESTORE_NO_SPACE = 7,
  SF_ERROR_RESTORE_MEMORY_CARD_REMOVED = 8,
  SF_ERROR_RESTORE_CORRUPT_BACKUP = 9,
  SF_ERROR_WRONG_PASSWORD = 10,
  SF_ERROR_RESTORE_FAILED = 11,
  /* An archive grew past the largest file the backup's file system holds (4 GiB - 1 on FAT32). */
  SF_ERROR_BACKUP_FILE_TOO_LARGE = 12
} SfError;

/* Any thread. */
GQuark sf_error_quark (void);

G_END_DECLS
