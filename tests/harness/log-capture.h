#pragma once

#include <glib.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

/* Collects the GLib log messages of the default domain while it lives, so a test can check the
 * engine's log lines. Thread-safe: worker threads log too. Messages are also dropped from the
 * test output. */
class LogCapture
{
public:
  struct Line
  {
    GLogLevelFlags level;
    std::string message;
  };

  LogCapture ();
  ~LogCapture ();
  LogCapture (const LogCapture &) = delete;
  LogCapture &operator= (const LogCapture &) = delete;

  std::vector<Line> lines () const;
  /* True when some message contains text. */
  bool contains (const std::string &text) const;
  /* How many messages contain text. */
  size_t count (const std::string &text) const;
  void clear ();
  /* Calls hook with every message from now on, on the thread that logs it and as it is logged, so
   * a test can hold a worker at a precise point. An empty hook ends that. */
  void set_hook (std::function<void (const std::string &message)> hook);
  /* Writes every line above debug level to standard error: the engine's own account of what went
   * wrong in a failed test. */
  void print_problems () const;

private:
  static void handle (const gchar *domain, GLogLevelFlags level, const gchar *message,
                      gpointer data);

  /* A C++ mutex, not a GMutex: ThreadSanitizer sees through it. */
  mutable std::mutex mutex_;
  std::vector<Line> lines_;
  std::function<void (const std::string &)> hook_;
  guint handler_;
  GLogLevelFlags old_fatal_mask_;
};
