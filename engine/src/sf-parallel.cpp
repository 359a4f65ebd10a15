#include "sf-parallel.h"

#include <vector>

namespace
{
gpointer
run_work (gpointer data)
{
  (*static_cast<const std::function<void ()> *> (data)) ();
  return NULL;
}
} // namespace

guint
sf_parallel_thread_count (gsize items)
{
  return (guint)MAX ((gsize)1, MIN ((gsize)g_get_num_processors (), items));
}

void
sf_parallel_run (guint count, const std::function<void ()> &work)
{
  std::vector<GThread *> threads;
  for (guint index = 1; index < count; index++)
    {
      GThread *thread = g_thread_try_new ("sf-worker", run_work,
                                          const_cast<std::function<void ()> *> (&work), NULL);
      if (thread != NULL)
        threads.push_back (thread);
    }
  work ();
  for (GThread *thread : threads)
    g_thread_join (thread);
}

void
sf_parallel_run_each (guint count, gsize items, const std::function<void (gsize)> &each)
{
  gint next = 0;
  sf_parallel_run (count, [items, &each, &next] {
    for (gsize index = g_atomic_int_add (&next, 1); index < items;
         index = g_atomic_int_add (&next, 1))
      each (index);
  });
}
