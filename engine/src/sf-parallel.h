#pragma once

/* Work spread over the processors for a while, on threads started for it. C++ callers only. */

#include <glib.h>

#include <functional>

/* One thread per processor, and never more than there is work for (at least one). Any thread. */
guint sf_parallel_thread_count (gsize items);
/* Runs work on count threads at once, the calling one among them (a thread that cannot be had
 * leaves its share to the others); returns when all returned. Any thread. */
void sf_parallel_run (guint count, const std::function<void ()> &work);
/* Calls each for every index below items, each index once, on count threads at once. Any
 * thread. */
void sf_parallel_run_each (guint count, gsize items, const std::function<void (gsize)> &each);
