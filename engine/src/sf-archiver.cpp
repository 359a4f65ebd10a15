#include "sf-archiver.h"

#include "sf-backend.h"
#include "sf-event.h"
#include "sf-handoff.h"
#include "sf-log.h"

#include <malloc.h>

namespace
{
/* Progress events go out at most every quarter second. */
const gint64 progress_interval_us = 250000;

/* The category the calling worker is on: with several categories worked on at once, a progress
 * event names the one whose work it reports. */
struct WorkerCategory
{
  SfArchiver *archiver;
  SfCategory category;
};
thread_local WorkerCategory worker_category = { NULL, SF_CATEGORY_NONE };
} // namespace

typedef struct
{
  SfBackend *backend;
  GThread *thread;
  guint32 total_files;
  guint32 processed_files;
  guint64 total_size;
  guint64 processed_size;
  gint64 last_progress_seconds;
  gint64 last_progress_microseconds;
  SfCategory current_category;
  SfRestoreFailure *restore_failure;
  SfCategory restore_written_categories;
  gint cancelled;
  /* Cancelled with the flag; current on the worker thread, so that a script it runs can be
   * ended. */
  GCancellable *cancellable;
  guint operation;
  /* Guards the counts, the current category and the progress events: the workers of one
   * operation share them. */
  GMutex mutex;
  /* What the last progress event said; later events never say less. */
  guint32 posted_files;
  gint posted_percent;
} SfArchiverPrivate;

G_DEFINE_ABSTRACT_TYPE_WITH_PRIVATE (SfArchiver, sf_archiver, G_TYPE_OBJECT)

namespace
{
SfArchiverPrivate *
private_of (SfArchiver *archiver)
{
  return static_cast<SfArchiverPrivate *> (sf_archiver_get_instance_private (archiver));
}

struct ThreadStart
{
  SfArchiver *archiver;
  void (*func) (SfArchiver *archiver);
};

gpointer
run_thread (gpointer data)
{
  ThreadStart *start = static_cast<ThreadStart *> (data);
  GCancellable *cancellable = private_of (start->archiver)->cancellable;
  g_cancellable_push_current (cancellable);
  start->func (start->archiver);
  g_cancellable_pop_current (cancellable);
  sf_handoff_send (start->archiver);
  g_object_unref (start->archiver);
  g_free (start);
  return NULL;
}

/* Packing allocates and frees pieces of entries of up to a few hundred KiB on every thread, and
 * each compressing thread its compressor. Freed on a worker thread, that memory would be handed
 * back to the system as soon as 128 KiB lie free at the top of the thread's heap, and every page
 * of it would fault again at the next piece (when libarchive took a compressor per entry, that
 * tripled a backup's processor time). A few MiB are kept. */
void
keep_freed_memory ()
{
  static gsize done = 0;
  if (g_once_init_enter (&done))
    {
      mallopt (M_TRIM_THRESHOLD, 4 * 1024 * 1024);
      g_once_init_leave (&done, 1);
    }
}

gboolean
start_thread (SfArchiver *archiver, void (*func) (SfArchiver *), const gchar *name)
{
  SfArchiverPrivate *priv = private_of (archiver);
  g_return_val_if_fail (priv->thread == NULL, FALSE);
  keep_freed_memory ();
  ThreadStart *start = g_new (ThreadStart, 1);
  /* The worker keeps the archiver alive until it has finished. */
  *start = { SF_ARCHIVER (g_object_ref (archiver)), func };
  g_autoptr (GError) error = NULL;
  priv->thread = g_thread_try_new (name, run_thread, start, &error);
  if (priv->thread == NULL)
    {
      SF_LOG_ERROR ("Could not start the %s thread: %s", name, error->message);
      g_object_unref (archiver);
      g_free (start);
      return FALSE;
    }
  return TRUE;
}

void
post (SfArchiver *archiver, SfEvent *event)
{
  SfArchiverPrivate *priv = private_of (archiver);
  event->operation = priv->operation;
  if (priv->backend != NULL)
    sf_backend_post_event (priv->backend, event);
  else
    sf_event_free (event);
}
} // namespace

/* The worker ends before anything is released: dispose runs before any subclass's finalize. */
static void
sf_archiver_dispose (GObject *object)
{
  /* The last reference may be dropped on either thread; GObject's counting orders the two. */
  SfArchiverPrivate *priv = private_of (SF_ARCHIVER (sf_handoff_receive (object)));
  /* The worker may drop the last reference itself; it cannot wait for its own end. */
  if (priv->thread != NULL && priv->thread == g_thread_self ())
    g_thread_unref (priv->thread);
  else if (priv->thread != NULL)
    g_thread_join (priv->thread);
  priv->thread = NULL;
  G_OBJECT_CLASS (sf_archiver_parent_class)->dispose (object);
}

static void
sf_archiver_finalize (GObject *object)
{
  SfArchiverPrivate *priv = private_of (SF_ARCHIVER (object));
  g_clear_object (&priv->backend);
  g_clear_object (&priv->cancellable);
  g_clear_pointer (&priv->restore_failure, sf_restore_failure_unref);
  g_mutex_clear (&priv->mutex);
  G_OBJECT_CLASS (sf_archiver_parent_class)->finalize (object);
}

static void
sf_archiver_class_init (SfArchiverClass *klass)
{
  G_OBJECT_CLASS (klass)->dispose = sf_archiver_dispose;
  G_OBJECT_CLASS (klass)->finalize = sf_archiver_finalize;
  klass->pack_thread_func = NULL;
  klass->unpack_thread_func = NULL;
}

static void
sf_archiver_init (SfArchiver *archiver)
{
  private_of (archiver)->cancellable = g_cancellable_new ();
  g_mutex_init (&private_of (archiver)->mutex);
}

gboolean
sf_archiver_start_pack (SfArchiver *archiver)
{
  g_return_val_if_fail (SF_IS_ARCHIVER (archiver), FALSE);
  SfArchiverClass *klass = SF_ARCHIVER_GET_CLASS (archiver);
  if (klass->pack_thread_func == NULL)
    {
      SF_LOG_WARNING ("Pack thread func not implemented.");
      return FALSE;
    }
  return start_thread (archiver, klass->pack_thread_func, "sf-pack");
}

gboolean
sf_archiver_start_unpack (SfArchiver *archiver)
{
  g_return_val_if_fail (SF_IS_ARCHIVER (archiver), FALSE);
  SfArchiverClass *klass = SF_ARCHIVER_GET_CLASS (archiver);
  if (klass->unpack_thread_func == NULL)
    {
      SF_LOG_WARNING ("Unpack thread func not implemented.");
      return FALSE;
    }
  return start_thread (archiver, klass->unpack_thread_func, "sf-unpack");
}

void
sf_archiver_cancel (SfArchiver *archiver)
{
  g_return_if_fail (SF_IS_ARCHIVER (archiver));
  g_atomic_int_set (&private_of (archiver)->cancelled, 1);
  g_cancellable_cancel (private_of (archiver)->cancellable);
}

gboolean
sf_archiver_is_cancelled (SfArchiver *archiver)
{
  g_return_val_if_fail (SF_IS_ARCHIVER (archiver), FALSE);
  return g_atomic_int_get (&private_of (archiver)->cancelled) != 0;
}

void
sf_archiver_set_backend (SfArchiver *archiver, SfBackend *backend)
{
  g_return_if_fail (SF_IS_ARCHIVER (archiver));
  SfArchiverPrivate *priv = private_of (archiver);
  if (backend != NULL)
    g_object_ref (backend);
  g_clear_object (&priv->backend);
  priv->backend = backend;
}

void
sf_archiver_set_operation (SfArchiver *archiver, guint operation)
{
  g_return_if_fail (SF_IS_ARCHIVER (archiver));
  private_of (archiver)->operation = operation;
}

SfBackend *
_sf_archiver_get_backend (SfArchiver *archiver)
{
  g_return_val_if_fail (SF_IS_ARCHIVER (archiver), NULL);
  return private_of (archiver)->backend;
}

void
sf_archiver_set_total_files (SfArchiver *archiver, guint32 total_files)
{
  g_return_if_fail (SF_IS_ARCHIVER (archiver));
  SfArchiverPrivate *priv = private_of (archiver);
  [[maybe_unused]] g_autoptr (GMutexLocker) locker = g_mutex_locker_new (&priv->mutex);
  priv->total_files = total_files;
}

guint32
sf_archiver_get_total_files (SfArchiver *archiver)
{
  g_return_val_if_fail (SF_IS_ARCHIVER (archiver), 0);
  SfArchiverPrivate *priv = private_of (archiver);
  [[maybe_unused]] g_autoptr (GMutexLocker) locker = g_mutex_locker_new (&priv->mutex);
  return priv->total_files;
}

void
sf_archiver_set_total_size (SfArchiver *archiver, guint64 total_size)
{
  g_return_if_fail (SF_IS_ARCHIVER (archiver));
  SfArchiverPrivate *priv = private_of (archiver);
  [[maybe_unused]] g_autoptr (GMutexLocker) locker = g_mutex_locker_new (&priv->mutex);
  priv->total_size = total_size;
}

guint64
sf_archiver_get_total_size (SfArchiver *archiver)
{
  g_return_val_if_fail (SF_IS_ARCHIVER (archiver), 0);
  SfArchiverPrivate *priv = private_of (archiver);
  [[maybe_unused]] g_autoptr (GMutexLocker) locker = g_mutex_locker_new (&priv->mutex);
  return priv->total_size;
}

void
sf_archiver_set_processed_files (SfArchiver *archiver, guint32 processed_files)
{
  g_return_if_fail (SF_IS_ARCHIVER (archiver));
  SfArchiverPrivate *priv = private_of (archiver);
  [[maybe_unused]] g_autoptr (GMutexLocker) locker = g_mutex_locker_new (&priv->mutex);
  priv->processed_files = processed_files;
}

guint32
sf_archiver_get_processed_files (SfArchiver *archiver)
{
  g_return_val_if_fail (SF_IS_ARCHIVER (archiver), 0);
  SfArchiverPrivate *priv = private_of (archiver);
  [[maybe_unused]] g_autoptr (GMutexLocker) locker = g_mutex_locker_new (&priv->mutex);
  return priv->processed_files;
}

void
sf_archiver_add_processed_files (SfArchiver *archiver, guint32 files)
{
  g_return_if_fail (SF_IS_ARCHIVER (archiver));
  SfArchiverPrivate *priv = private_of (archiver);
  [[maybe_unused]] g_autoptr (GMutexLocker) locker = g_mutex_locker_new (&priv->mutex);
  priv->processed_files += files;
}

void
sf_archiver_set_processed_size (SfArchiver *archiver, guint64 processed_size)
{
  g_return_if_fail (SF_IS_ARCHIVER (archiver));
  SfArchiverPrivate *priv = private_of (archiver);
  [[maybe_unused]] g_autoptr (GMutexLocker) locker = g_mutex_locker_new (&priv->mutex);
  priv->processed_size = processed_size;
}

guint64
sf_archiver_get_processed_size (SfArchiver *archiver)
{
  g_return_val_if_fail (SF_IS_ARCHIVER (archiver), 0);
  SfArchiverPrivate *priv = private_of (archiver);
  [[maybe_unused]] g_autoptr (GMutexLocker) locker = g_mutex_locker_new (&priv->mutex);
  return priv->processed_size;
}

void
sf_archiver_add_processed_size (SfArchiver *archiver, guint64 size)
{
  g_return_if_fail (SF_IS_ARCHIVER (archiver));
  SfArchiverPrivate *priv = private_of (archiver);
  [[maybe_unused]] g_autoptr (GMutexLocker) locker = g_mutex_locker_new (&priv->mutex);
  priv->processed_size += size;
}

void
sf_archiver_set_current_category (SfArchiver *archiver, SfCategory category)
{
  g_return_if_fail (SF_IS_ARCHIVER (archiver));
  SfArchiverPrivate *priv = private_of (archiver);
  [[maybe_unused]] g_autoptr (GMutexLocker) locker = g_mutex_locker_new (&priv->mutex);
  priv->current_category = category;
  worker_category = { archiver, category };
}

void
sf_archiver_take_back_processed (SfArchiver *archiver, guint32 files, guint64 size)
{
  g_return_if_fail (SF_IS_ARCHIVER (archiver));
  SfArchiverPrivate *priv = private_of (archiver);
  [[maybe_unused]] g_autoptr (GMutexLocker) locker = g_mutex_locker_new (&priv->mutex);
  priv->processed_files -= MIN (files, priv->processed_files);
  priv->processed_size -= MIN (size, priv->processed_size);
}

void
sf_archiver_set_restore_failure (SfArchiver *archiver, SfRestoreFailure *failure)
{
  g_return_if_fail (SF_IS_ARCHIVER (archiver));
  SfArchiverPrivate *priv = private_of (archiver);
  if (failure != NULL)
    sf_restore_failure_ref (failure);
  g_clear_pointer (&priv->restore_failure, sf_restore_failure_unref);
  priv->restore_failure = failure;
}

SfRestoreFailure *
sf_archiver_get_restore_failure (SfArchiver *archiver)
{
  g_return_val_if_fail (SF_IS_ARCHIVER (archiver), NULL);
  return private_of (archiver)->restore_failure;
}

void
sf_archiver_set_restore_written_categories (SfArchiver *archiver, SfCategory categories)
{
  g_return_if_fail (SF_IS_ARCHIVER (archiver));
  private_of (archiver)->restore_written_categories = categories;
}

SfCategory
sf_archiver_get_restore_written_categories (SfArchiver *archiver)
{
  g_return_val_if_fail (SF_IS_ARCHIVER (archiver), SF_CATEGORY_NONE);
  return private_of (archiver)->restore_written_categories;
}

void
sf_archiver_update_progress (SfArchiver *archiver)
{
  g_return_if_fail (SF_IS_ARCHIVER (archiver));
  SfArchiverPrivate *priv = private_of (archiver);
  [[maybe_unused]] g_autoptr (GMutexLocker) locker = g_mutex_locker_new (&priv->mutex);
  guint64 divisor = priv->total_size < 100 ? 1 : priv->total_size / 100;
  guint64 percent = priv->processed_size / divisor;
  if (priv->processed_files < priv->total_files)
    percent = MIN (percent, 99);

  gint64 now = g_get_real_time ();
  gint64 seconds = now / G_USEC_PER_SEC;
  gint64 microseconds = now % G_USEC_PER_SEC;
  if (seconds <= priv->last_progress_seconds
      && microseconds - priv->last_progress_microseconds <= progress_interval_us)
    return;
  priv->last_progress_seconds = seconds;
  priv->last_progress_microseconds = microseconds;
  /* A category that failed or was cancelled takes its counts back; what was shown stays. */
  priv->posted_files = MAX (priv->posted_files, priv->processed_files);
  priv->posted_percent = MAX (priv->posted_percent, (gint)MIN (percent, (guint64)G_MAXINT));
  /* Posted under the lock, so that the events queue up in the order of their counts. */
  SfCategory category
      = worker_category.archiver == archiver ? worker_category.category : priv->current_category;
  post (archiver, sf_event_new_progress (FALSE, priv->posted_files, priv->total_files,
                                         priv->posted_percent, category));
}

void
sf_archiver_send_finalizing (SfArchiver *archiver)
{
  g_return_if_fail (SF_IS_ARCHIVER (archiver));
  post (archiver, sf_event_new_progress (TRUE, 0, 0, 0, SF_CATEGORY_NONE));
}

void
sf_archiver_send_error (SfArchiver *archiver, const GError *error)
{
  g_return_if_fail (SF_IS_ARCHIVER (archiver));
  g_return_if_fail (error != NULL);
  post (archiver, sf_event_new_error (error));
}

void
sf_archiver_send_finished (SfArchiver *archiver)
{
  g_return_if_fail (SF_IS_ARCHIVER (archiver));
  SfArchiverPrivate *priv = private_of (archiver);
  [[maybe_unused]] g_autoptr (GMutexLocker) locker = g_mutex_locker_new (&priv->mutex);
  post (archiver, sf_event_new_finished (priv->processed_size, priv->processed_files,
                                         priv->restore_written_categories, priv->restore_failure));
}

void
sf_archiver_send_cancelled (SfArchiver *archiver)
{
  g_return_if_fail (SF_IS_ARCHIVER (archiver));
  post (archiver, sf_event_new_cancelled ());
}
