#pragma once

#include <glib.h>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

/* GAsyncQueue hand-offs between threads that ThreadSanitizer can follow. GLib locks its queues
 * with futexes that an uninstrumented GLib hides from the sanitizer, so the pusher announces the
 * item as released and the popper as acquired; in other builds these are the plain queue calls.
 * Any thread. */

static inline void
sf_async_queue_push (GAsyncQueue *queue, gpointer item)
{
#if defined(__SANITIZE_THREAD__)
  __tsan_release (item);
#endif
  g_async_queue_push (queue, item);
}

static inline gpointer
sf_async_queue_received (gpointer item)
{
#if defined(__SANITIZE_THREAD__)
  if (item != NULL)
    __tsan_acquire (item);
#endif
  return item;
}

/* Waits for an item. */
static inline gpointer
sf_async_queue_pop (GAsyncQueue *queue)
{
  return sf_async_queue_received (g_async_queue_pop (queue));
}

/* NULL when the queue is empty. */
static inline gpointer
sf_async_queue_try_pop (GAsyncQueue *queue)
{
  return sf_async_queue_received (g_async_queue_try_pop (queue));
}
