#include "sf-backend.h"

#include "sf-archiver-zip.h"
#include "sf-handoff.h"
#include "sf-backup-configurations.h"
#include "sf-backup-locations.h"
#include "sf-error.h"
#include "sf-log.h"
#include "sf-startup-flags.h"
#include "sf-target-fake.h"
#include "sf-target-manager.h"
#include "sf-utils.h"

#include <glib/gstdio.h>
#include <sys/stat.h>

namespace
{
/* How often the watchdog of a cancelled restore looks at the clock, and how far it may move. */
const guint watchdog_interval_ms = 30000;
const gint64 watchdog_clock_jump_s = 300;

/* The worker's channel for conflict answers; 0 means no answer yet. */
GMutex conflict_mutex;
GCond conflict_cond;
gint conflict_response;

SfBackend *the_backend;
} // namespace

struct _SfBackend
{
  GObject parent_instance;

  SfTargetManager *target_manager;
  SfArchiver *archiver;
  SfTarget *target;
  SfBackupInfo *info;

  SfBackendState state;
  /* Numbers the operations; events of any but the current one are dropped. */
  guint operation;
  gboolean cancel_pending;
  GError *error; /* only while "error" is emitted */

  guint watchdog_source;
  gint64 watchdog_reference;
  gboolean second_chance;
  gint64 (*clock) (void);

  GTimer *timer;
  GMainLoop *wait_loop;
  GAsyncQueue *events;

  guint64 processed_size;
  gint processed_files;
  SfRestoreFailure *restore_failure;
  SfCategory written_categories;
};

enum
{
  SIGNAL_FINALIZING,
  SIGNAL_PROGRESS,
  SIGNAL_CONFLICT,
  SIGNAL_ERROR,
  SIGNAL_FINISHED,
  SIGNAL_CANCELLED,
  SIGNAL_CONFLICT_ABORTED,
  SIGNAL_COUNT
};

static guint signals[SIGNAL_COUNT];

G_DEFINE_FINAL_TYPE (SfBackend, sf_backend, G_TYPE_OBJECT)

namespace
{
void
remove_watchdog (SfBackend *backend)
{
  if (backend->watchdog_source != 0)
    g_source_remove (backend->watchdog_source);
  backend->watchdog_source = 0;
}

void
reset (SfBackend *backend)
{
  backend->state = SF_BACKEND_STATE_IDLE;
  backend->cancel_pending = FALSE;
  g_clear_error (&backend->error);
  remove_watchdog (backend);
  if (backend->archiver != NULL)
    sf_handoff_send (backend->archiver);
  g_clear_object (&backend->archiver);
  g_clear_object (&backend->target);
  g_clear_pointer (&backend->info, sf_backup_info_unref);
}

void
take_results (SfBackend *backend, guint64 processed_size, gint processed_files,
              SfCategory written_categories, SfRestoreFailure *restore_failure)
{
  backend->processed_size = processed_size;
  backend->processed_files = processed_files;
  backend->written_categories = written_categories;
  if (restore_failure != NULL)
    sf_restore_failure_ref (restore_failure);
  g_clear_pointer (&backend->restore_failure, sf_restore_failure_unref);
  backend->restore_failure = restore_failure;
}

void
end_wait (SfBackend *backend)
{
  g_main_loop_quit (backend->wait_loop);
}

void
handle_progress (SfBackend *backend, const SfEventProgress *progress)
{
  if (backend->state != SF_BACKEND_STATE_BACKUP && backend->state != SF_BACKEND_STATE_RESTORE)
    return;
  if (progress->finalizing)
    {
      g_signal_emit (backend, signals[SIGNAL_FINALIZING], 0);
      return;
    }
  g_signal_emit (backend, signals[SIGNAL_PROGRESS], 0, progress->processed_files,
                 progress->total_files, CLAMP (progress->percent, 0, 100),
                 (gint)progress->category);
}

void
answer_conflict (gint response)
{
  g_mutex_lock (&conflict_mutex);
  conflict_response = response;
  g_cond_signal (&conflict_cond);
  g_mutex_unlock (&conflict_mutex);
}

void
handle_conflict (SfBackend *backend, const SfEventConflict *conflict)
{
  if (backend->state != SF_BACKEND_STATE_RESTORE || backend->cancel_pending)
    {
      answer_conflict (SF_CONFLICT_RESPONSE_CANCEL);
      return;
    }
  backend->state = SF_BACKEND_STATE_CONFLICT;
  gint response = 0;
  g_signal_emit (backend, signals[SIGNAL_CONFLICT], 0, conflict->type, conflict->file,
                 conflict->first, conflict->second, &response);
  answer_conflict (response);
  if (response != SF_CONFLICT_RESPONSE_CANCEL && backend->state == SF_BACKEND_STATE_CONFLICT)
    backend->state = SF_BACKEND_STATE_RESTORE;
}

/* The operation ended with an error: a cancel waiting for it returns without "cancelled". */
void
handle_error (SfBackend *backend, SfEvent *event)
{
  g_clear_error (&backend->error);
  backend->error = sf_event_get_error (event);
  gboolean waited_for = backend->cancel_pending;
  backend->cancel_pending = FALSE;
  g_signal_emit (backend, signals[SIGNAL_ERROR], 0, backend->error);
  if (waited_for)
    end_wait (backend);
  reset (backend);
}

/* The worker completed despite a cancel that came too late (a backup that had begun deleting its
 * sources): a cancel waiting for it returns without "cancelled". */
void
handle_finished (SfBackend *backend, const SfEventFinished *finished)
{
  g_timer_stop (backend->timer);
  take_results (backend, finished->processed_size, finished->processed_files,
                finished->written_categories, finished->restore_failure);
  gboolean restore = backend->state != SF_BACKEND_STATE_BACKUP;
  gboolean waited_for = backend->cancel_pending;
  g_signal_emit (backend, signals[SIGNAL_FINISHED], 0);
  if (waited_for)
    end_wait (backend);
  else if (restore)
    {
      sf_backend_add_restore_flag ();
      sf_backend_remove_startup_flags ();
    }
  reset (backend);
}

void
end_cancel (SfBackend *backend)
{
  reset (backend);
  g_signal_emit (backend, signals[SIGNAL_CANCELLED], 0);
}

/* The worker stopped on the cancel flag. A cancel waiting for it takes the results and emits
 * "cancelled" once it has returned from its wait. */
void
handle_cancelled (SfBackend *backend)
{
  if (backend->cancel_pending)
    end_wait (backend);
  else
    end_cancel (backend);
}

gboolean
handle_event_idle (gpointer data)
{
  SfBackend *backend = SF_BACKEND (data);
  SfEvent *event = static_cast<SfEvent *> (sf_async_queue_try_pop (backend->events));
  if (event == NULL)
    return G_SOURCE_REMOVE;
  if (backend->state == SF_BACKEND_STATE_IDLE || event->operation != backend->operation)
    {
      sf_event_free (event);
      return G_SOURCE_REMOVE;
    }

  switch (event->type)
    {
    case SF_EVENT_PROGRESS:
      handle_progress (backend, &event->progress);
      break;
    case SF_EVENT_CONFLICT:
      handle_conflict (backend, &event->conflict);
      break;
    case SF_EVENT_ERROR:
      handle_error (backend, event);
      break;
    case SF_EVENT_FINISHED:
      handle_finished (backend, &event->finished);
      break;
    case SF_EVENT_CANCELLED:
      handle_cancelled (backend);
      break;
    }
  sf_event_free (event);
  return G_SOURCE_REMOVE;
}

gboolean
quit_wait_idle (gpointer data)
{
  /* What the worker left in the archiver is read once the wait ends. */
  end_wait (SF_BACKEND (sf_handoff_receive (data)));
  return G_SOURCE_REMOVE;
}

gint64
wall_clock_seconds (void)
{
  return g_get_real_time () / G_USEC_PER_SEC;
}

gboolean
watchdog_tick (gpointer data)
{
  SfBackend *backend = SF_BACKEND (data);
  gint64 now = backend->clock ();
  if (!backend->second_chance && now < backend->watchdog_reference)
    {
      SF_LOG_WARNING ("Watchdog, time set back, try again");
      backend->watchdog_reference = now;
      backend->second_chance = TRUE;
      return G_SOURCE_CONTINUE;
    }
  if (!backend->second_chance && now - backend->watchdog_reference > watchdog_clock_jump_s)
    {
      SF_LOG_WARNING ("Watchdog, time set forward, try again");
      backend->watchdog_reference = now;
      backend->second_chance = TRUE;
      return G_SOURCE_CONTINUE;
    }
  SF_LOG_ERROR ("Watchdog, rebooting");
  SF_LOG_ERROR ("reboot message sent....");
  backend->watchdog_source = 0;
  return G_SOURCE_REMOVE;
}

void
start_watchdog (SfBackend *backend)
{
  backend->watchdog_reference = (gint32)backend->clock ();
  backend->second_chance = FALSE;
  backend->watchdog_source = g_timeout_add (watchdog_interval_ms, watchdog_tick, backend);
}
dev_t
device_of (const gchar *path)
{
  struct stat info;
  return path != NULL && g_stat (path, &info) == 0 ? info.st_dev : 0;
}

/* Something is mounted at path when it lies on another device than "/". */
gboolean
is_mounted (const gchar *path)
{
  if (device_of (path) == device_of ("/"))
    {
      SF_LOG_WARNING ("Extra check for mounted: no card.");
      return FALSE;
    }
  return TRUE;
}

gboolean
target_is_mounted (SfTarget *target)
{
  if (SF_IS_TARGET_FAKE (target))
    {
      SF_LOG_DEBUG ("Using a fake target\n");
      return TRUE;
    }
  g_autoptr (GFile) root = g_file_new_for_uri (sf_target_get_uri (target));
  g_autofree gchar *path = g_file_get_path (root);
  return is_mounted (path);
}

gboolean
fail_start (GError **error, gint code, const gchar *message)
{
  SF_LOG_WARNING ("%s", message);
  g_set_error_literal (error, SF_ERROR, code, message);
  return FALSE;
}

/* A backup is one directory right below the backups location. */
gboolean
is_plain_name (const gchar *name)
{
  return name[0] != '\0' && strchr (name, '/') == NULL && strcmp (name, ".") != 0
         && strcmp (name, "..") != 0;
}

const gchar *
text_or_null (const gchar *text)
{
  return text != NULL && text[0] != '\0' ? text : NULL;
}

/* Holds the operation's target and info and starts archiver on it; a failed start releases
 * them again. */
gboolean
start_operation (SfBackend *backend, SfTarget *target, SfBackupInfo *info, SfArchiver *archiver,
                 SfBackendState state)
{
  g_set_object (&backend->target, target);
  backend->info = sf_backup_info_ref (info);
  return _sf_backend_run_archiver (backend, archiver, state);
}
} // namespace

static void
sf_backend_finalize (GObject *object)
{
  SfBackend *backend = SF_BACKEND (object);
  if (backend->state != SF_BACKEND_STATE_IDLE)
    SF_LOG_WARNING ("Finalizing backend when not ready.");
  reset (backend);
  g_clear_pointer (&backend->restore_failure, sf_restore_failure_unref);
  g_clear_object (&backend->target_manager);
  g_timer_destroy (backend->timer);
  g_main_loop_unref (backend->wait_loop);
  g_async_queue_unref (backend->events);
  the_backend = NULL;
  G_OBJECT_CLASS (sf_backend_parent_class)->finalize (object);
}

static void
sf_backend_class_init (SfBackendClass *klass)
{
  GObjectClass *object_class = G_OBJECT_CLASS (klass);
  object_class->finalize = sf_backend_finalize;

  GType type = G_TYPE_FROM_CLASS (klass);
  signals[SIGNAL_FINALIZING]
      = g_signal_new ("finalizing", type, G_SIGNAL_RUN_LAST, 0, NULL, NULL, NULL, G_TYPE_NONE, 0);
  signals[SIGNAL_PROGRESS]
      = g_signal_new ("progress", type, G_SIGNAL_RUN_LAST, 0, NULL, NULL, NULL, G_TYPE_NONE, 4,
                      G_TYPE_INT, G_TYPE_INT, G_TYPE_INT, G_TYPE_INT);
  signals[SIGNAL_CONFLICT]
      = g_signal_new ("conflict", type, G_SIGNAL_RUN_LAST, 0, NULL, NULL, NULL, G_TYPE_INT, 4,
                      SF_TYPE_EVENT_CONFLICT_TYPE, G_TYPE_POINTER, G_TYPE_LONG, G_TYPE_LONG);
  signals[SIGNAL_ERROR] = g_signal_new ("error", type, G_SIGNAL_RUN_LAST, 0, NULL, NULL, NULL,
                                        G_TYPE_NONE, 1, G_TYPE_POINTER);
  signals[SIGNAL_FINISHED]
      = g_signal_new ("finished", type, G_SIGNAL_RUN_LAST, 0, NULL, NULL, NULL, G_TYPE_NONE, 0);
  signals[SIGNAL_CANCELLED]
      = g_signal_new ("cancelled", type, G_SIGNAL_RUN_LAST, 0, NULL, NULL, NULL, G_TYPE_NONE, 0);
  signals[SIGNAL_CONFLICT_ABORTED] = g_signal_new ("conflict_aborted", type, G_SIGNAL_RUN_LAST, 0,
                                                   NULL, NULL, NULL, G_TYPE_NONE, 0);
}

static void
sf_backend_init (SfBackend *backend)
{
  backend->target_manager = SF_TARGET_MANAGER (g_object_ref (sf_target_manager_get ()));
  backend->clock = wall_clock_seconds;
  backend->timer = g_timer_new ();
  g_timer_stop (backend->timer);
  backend->wait_loop = g_main_loop_new (NULL, FALSE);
  backend->events = g_async_queue_new_full ((GDestroyNotify)sf_event_free);
}

SfBackend *
sf_backend_new (void)
{
  if (the_backend != NULL)
    g_error ("You are only allowed to create one global instance of the manager.");
  the_backend = SF_BACKEND (g_object_new (SF_TYPE_BACKEND, NULL));
  return the_backend;
}

gboolean
sf_backend_start_backup (SfBackend *backend, SfTarget *target, SfUserFiles *user_files,
                         const gchar *name, const gchar *password, const gchar *notes,
                         gint32 timestamp, SfCategory categories, gint files_total,
                         guint64 size_total, GError **error)
{
  g_return_val_if_fail (SF_IS_BACKEND (backend), FALSE);
  g_return_val_if_fail (SF_IS_TARGET (target), FALSE);
  g_return_val_if_fail (name != NULL, FALSE);
  g_return_val_if_fail (user_files != NULL, FALSE);

  if (backend->state != SF_BACKEND_STATE_IDLE)
    return fail_start (error, SF_ERROR_BACKUP_FAILED, "Backup, backend is busy");
  if (!target_is_mounted (target))
    return fail_start (error, SF_ERROR_BACKUP_NO_MEMORY_CARD, "No memory card found");
  if (!is_plain_name (name))
    return fail_start (error, SF_ERROR_BACKUP_FAILED, "Invalid backup name");

  password = text_or_null (password);
  g_autoptr (GFile) backups = g_file_new_for_uri (sf_target_get_backups_uri (target));
  g_autoptr (GFile) directory = g_file_get_child (backups, name);
  g_autoptr (SfBackupInfo) info = sf_backup_info_new (
      directory, timestamp, password != NULL, password, sf_utils_get_software_version (),
      text_or_null (notes), SF_BACKUP_INFO_FORMAT, categories);
  g_autoptr (SfArchiver) archiver = sf_archiver_zip_new_backup (
      info, user_files, (guint32)MAX (files_total, 0), size_total, password);
  if (!start_operation (backend, target, info, archiver, SF_BACKEND_STATE_BACKUP))
    return fail_start (error, SF_ERROR_BACKUP_FAILED, "Couldn't start backup");
  return TRUE;
}

gboolean
sf_backend_start_restore (SfBackend *backend, SfBackupInfo *info, const gchar *password,
                          SfCategory categories, GError **error)
{
  g_return_val_if_fail (SF_IS_BACKEND (backend), FALSE);
  g_return_val_if_fail (info != NULL, FALSE);

  if (backend->state != SF_BACKEND_STATE_IDLE)
    return fail_start (error, SF_ERROR_RESTORE_FAILED, "restore, backend is busy");
  SfTarget *target = sf_target_manager_get_target_from_backup (backend->target_manager, info);
  if (target == NULL)
    {
      g_autofree gchar *path = g_file_get_path (sf_backup_info_get_uri (info));
      if (is_mounted (path))
        return fail_start (error, SF_ERROR_RESTORE_FAILED, "Backup not found, deleted?");
      return fail_start (error, SF_ERROR_RESTORE_NO_MEMORY_CARD, "No memory card found");
    }
  if (!target_is_mounted (target))
    return fail_start (error, SF_ERROR_RESTORE_NO_MEMORY_CARD, "No memory card found");

  g_autoptr (SfArchiver) archiver
      = sf_archiver_zip_new_restore (info, categories, text_or_null (password));
  if (!start_operation (backend, target, info, archiver, SF_BACKEND_STATE_RESTORE))
    return fail_start (error, SF_ERROR_RESTORE_FAILED, "Couldn't start restore");
  return TRUE;
}

gboolean
_sf_backend_run_archiver (SfBackend *backend, SfArchiver *archiver, SfBackendState state)
{
  g_return_val_if_fail (SF_IS_BACKEND (backend), FALSE);
  g_return_val_if_fail (SF_IS_ARCHIVER (archiver), FALSE);
  g_return_val_if_fail (backend->state == SF_BACKEND_STATE_IDLE, FALSE);
  g_return_val_if_fail (state == SF_BACKEND_STATE_BACKUP || state == SF_BACKEND_STATE_RESTORE,
                        FALSE);

  take_results (backend, 0, 0, SF_CATEGORY_NONE, NULL);
  backend->cancel_pending = FALSE;
  backend->state = state;
  backend->operation++;
  backend->archiver = SF_ARCHIVER (g_object_ref (archiver));
  sf_archiver_set_backend (archiver, backend);
  sf_archiver_set_operation (archiver, backend->operation);
  g_timer_start (backend->timer);
  gboolean started = state == SF_BACKEND_STATE_BACKUP ? sf_archiver_start_pack (archiver)
                                                      : sf_archiver_start_unpack (archiver);
  if (!started)
    reset (backend);
  return started;
}

gboolean
sf_backend_cancel (SfBackend *backend)
{
  g_return_val_if_fail (SF_IS_BACKEND (backend), FALSE);
  if (backend->cancel_pending)
    {
      SF_LOG_DEBUG ("Backend: Already waiting for cancellation.\n");
      return FALSE;
    }
  switch (backend->state)
    {
    case SF_BACKEND_STATE_IDLE:
      SF_LOG_DEBUG ("Backend: Nothing to cancel.\n");
      return FALSE;
    case SF_BACKEND_STATE_BACKUP:
      SF_LOG_DEBUG ("Backend: Cancel backup operation.\n");
      break;
    case SF_BACKEND_STATE_RESTORE:
      SF_LOG_DEBUG ("Backend: Cancel restore operation.\n");
      break;
    case SF_BACKEND_STATE_CONFLICT:
      SF_LOG_DEBUG ("Backend: Received cancel during conflict\n");
      g_signal_emit (backend, signals[SIGNAL_CONFLICT_ABORTED], 0);
      return FALSE;
    }

  guint operation = backend->operation;
  backend->cancel_pending = TRUE;
  sf_archiver_cancel (backend->archiver);
  if (backend->state == SF_BACKEND_STATE_RESTORE)
    start_watchdog (backend);
  g_main_loop_run (backend->wait_loop);
  remove_watchdog (backend);

  /* The operation ended as finished or failed, and said so; a handler may already have started
   * the next one. */
  if (backend->operation != operation || backend->state == SF_BACKEND_STATE_IDLE)
    return FALSE;
  if (backend->archiver != NULL)
    take_results (backend, sf_archiver_get_processed_size (backend->archiver),
                  (gint)sf_archiver_get_processed_files (backend->archiver),
                  sf_archiver_get_restore_written_categories (backend->archiver),
                  sf_archiver_get_restore_failure (backend->archiver));
  end_cancel (backend);
  return TRUE;
}

void
sf_backend_respond_to_conflict (SfBackend *backend, gint response)
{
  g_return_if_fail (SF_IS_BACKEND (backend));
  if (backend->state != SF_BACKEND_STATE_CONFLICT)
    {
      SF_LOG_DEBUG ("Backend: Can't respond when there's no conflict.\n");
      return;
    }
  answer_conflict (response);
}

SfBackendState
sf_backend_get_state (SfBackend *backend)
{
  g_return_val_if_fail (SF_IS_BACKEND (backend), SF_BACKEND_STATE_IDLE);
  return backend->state;
}

GError *
sf_backend_get_error (SfBackend *backend)
{
  g_return_val_if_fail (SF_IS_BACKEND (backend), NULL);
  return backend->error;
}

SfCategory
sf_backend_get_written_categories (SfBackend *backend)
{
  g_return_val_if_fail (SF_IS_BACKEND (backend), SF_CATEGORY_NONE);
  return backend->written_categories;
}

SfRestoreFailure *
sf_backend_get_restore_failure (SfBackend *backend)
{
  g_return_val_if_fail (SF_IS_BACKEND (backend), NULL);
  return backend->restore_failure;
}

gint
sf_backend_get_processed_files (SfBackend *backend)
{
  g_return_val_if_fail (SF_IS_BACKEND (backend), 0);
  return backend->processed_files;
}

guint64
sf_backend_get_processed_size (SfBackend *backend)
{
  g_return_val_if_fail (SF_IS_BACKEND (backend), 0);
  return backend->processed_size;
}

gint
sf_backend_get_elapsed_time (SfBackend *backend)
{
  g_return_val_if_fail (SF_IS_BACKEND (backend), 0);
  return (gint)(g_timer_elapsed (backend->timer, NULL) + 0.5);
}

void
sf_backend_count_data (SfBackend *backend, SfCategory categories, guint32 *files, guint64 *size)
{
  g_return_if_fail (SF_IS_BACKEND (backend));
  guint32 ordinary_files = 0, permanent_files = 0;
  guint64 ordinary_size = 0, permanent_size = 0;
  /* The tables are read once at start-up and never change afterwards. */
  SfBackupLocations *locations = sf_backup_configurations_get_locations ();
  SfBackupLocations *permanent_locations = sf_backup_configurations_get_permanent_locations ();
  if (locations != NULL)
    sf_backup_locations_count_data (locations, categories, &ordinary_files, &ordinary_size);
  if (permanent_locations != NULL)
    sf_backup_locations_count_data (permanent_locations, categories, &permanent_files,
                                    &permanent_size);
  if (files != NULL)
    *files = ordinary_files + permanent_files;
  if (size != NULL)
    *size = ordinary_size + permanent_size;
}

void
sf_backend_post_event (SfBackend *backend, SfEvent *event)
{
  g_return_if_fail (SF_IS_BACKEND (backend));
  g_return_if_fail (event != NULL);
  sf_async_queue_push (backend->events, event);
  g_idle_add_full (G_PRIORITY_DEFAULT_IDLE, handle_event_idle, g_object_ref (backend),
                   g_object_unref);
}

void
sf_backend_quit_wait (SfBackend *backend)
{
  g_return_if_fail (SF_IS_BACKEND (backend));
  sf_handoff_send (backend);
  g_idle_add_full (G_PRIORITY_HIGH_IDLE, quit_wait_idle, g_object_ref (backend), g_object_unref);
}

gint
sf_backend_wait_for_conflict_response (void)
{
  g_mutex_lock (&conflict_mutex);
  while (conflict_response == 0)
    g_cond_wait (&conflict_cond, &conflict_mutex);
  gint response = conflict_response;
  conflict_response = 0;
  g_mutex_unlock (&conflict_mutex);
  return response;
}

void
_sf_backend_set_clock (SfBackend *backend, gint64 (*clock) (void))
{
  g_return_if_fail (SF_IS_BACKEND (backend));
  backend->clock = clock != NULL ? clock : wall_clock_seconds;
}

guint
_sf_backend_get_operation (SfBackend *backend)
{
  g_return_val_if_fail (SF_IS_BACKEND (backend), 0);
  return backend->operation;
}

gboolean
_sf_backend_watchdog_tick (SfBackend *backend)
{
  g_return_val_if_fail (SF_IS_BACKEND (backend), FALSE);
  return watchdog_tick (backend) == G_SOURCE_CONTINUE;
}
