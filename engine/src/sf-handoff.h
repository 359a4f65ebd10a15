#pragma once

#include <glib.h>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

/* Hand-offs between threads that ThreadSanitizer can follow. GLib locks its queues and main
 * contexts with futexes that an uninstrumented GLib hides from the sanitizer, so the sending
 * thread announces the object it hands over as released and the receiving thread as acquired. In
 * other builds these are no-ops and the plain queue calls. Any thread. */

static inline void
sf_handoff_send (gconstpointer object)
{
#if defined(__SANITIZE_THREAD__)
  __tsan_release ((void *)object);
#else
  (void)object;
#endif
}

/* Returns object, for use on what a queue returns; NULL is passed through. */
static inline gpointer
sf_handoff_receive (gpointer object)
{
#if defined(__SANITIZE_THREAD__)
  if (object != NULL)
    __tsan_acquire (object);
#endif
  return object;
}

static inline void
sf_async_queue_push (GAsyncQueue *queue, gpointer item)
{
  sf_handoff_send (item);
  g_async_queue_push (queue, item);
}

/* Waits for an item. */
static inline gpointer
sf_async_queue_pop (GAsyncQueue *queue)
{
  return sf_handoff_receive (g_async_queue_pop (queue));
}

/* NULL when the queue is empty. */
static inline gpointer
sf_async_queue_try_pop (GAsyncQueue *queue)
{
  return sf_handoff_receive (g_async_queue_try_pop (queue));
}
