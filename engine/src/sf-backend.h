#pragma once

#include "sf-archiver.h"
#include "sf-category.h"
#include "sf-event.h"
#include "sf-backup-info.h"
#include "sf-restore-failure.h"
#include "sf-target.h"
#include "sf-user-files.h"

#include <glib-object.h>

G_BEGIN_DECLS

typedef enum
{
  SF_BACKEND_STATE_IDLE = 0,
  SF_BACKEND_STATE_BACKUP = 1,
  SF_BACKEND_STATE_RESTORE = 2,
  SF_BACKEND_STATE_CONFLICT = 3
} SfBackendState;

/* The answer that abandons a conflict. */
#define SF_CONFLICT_RESPONSE_CANCEL 4

#define SF_TYPE_BACKEND (sf_backend_get_type ())
G_DECLARE_FINAL_TYPE (SfBackend, sf_backend, SF, BACKEND, GObject)

SfBackend *sf_backend_new (void);

gboolean sf_backend_start_backup (SfBackend *backend, SfTarget *target, SfUserFiles *user_files,
                                  const gchar *name, const gchar *password, const gchar *notes,
                                  gint32 timestamp, SfCategory categories, gint files_total,
                                  guint64 size_total, GError **error);
gboolean sf_backend_start_restore (SfBackend *backend, SfBackupInfo *info, const gchar *password,
                                   SfCategory categories, GError **error);

gboolean sf_backend_cancel (SfBackend *backend);
void sf_backend_respond_to_conflict (SfBackend *backend, gint response);

SfBackendState sf_backend_get_state (SfBackend *backend);
GError *sf_backend_get_error (SfBackend *backend);
SfCategory sf_backend_get_written_categories (SfBackend *backend);
SfRestoreFailure *sf_backend_get_restore_failure (SfBackend *backend);
gint sf_backend_get_processed_files (SfBackend *backend);
guint64 sf_backend_get_processed_size (SfBackend *backend);
gint sf_backend_get_elapsed_time (SfBackend *backend);
void sf_backend_count_data (SfBackend *backend, SfCategory categories, guint32 *files,
                            guint64 *size);

/* For the archiver's worker thread. */
void sf_backend_post_event (SfBackend *backend, SfEvent *event);
void sf_backend_quit_wait (SfBackend *backend);
gint sf_backend_wait_for_conflict_response (void);

/* Runs archiver as the backend's operation; state is backup or restore. The archiver must not
 * be started yet. */
gboolean _sf_backend_run_archiver (SfBackend *backend, SfArchiver *archiver, SfBackendState state);

/* Test seams for the restore watchdog: the wall clock it reads (seconds), and one tick, which
 * returns whether the watchdog keeps ticking. */
void _sf_backend_set_clock (SfBackend *backend, gint64 (*clock) (void));
gboolean _sf_backend_watchdog_tick (SfBackend *backend);
/* Test seam: the number that events of the running operation carry. */
guint _sf_backend_get_operation (SfBackend *backend);

G_END_DECLS
