#include "log-capture.h"

#include <iostream>

LogCapture::LogCapture ()
{
  /* The engine writes criticals for errors; they must not abort a test. */
  old_fatal_mask_ = g_log_set_always_fatal ((GLogLevelFlags)G_LOG_FATAL_MASK);
  handler_ = g_log_set_handler (NULL, (GLogLevelFlags)(G_LOG_LEVEL_MASK | G_LOG_FLAG_RECURSION),
                                handle, this);
}

LogCapture::~LogCapture ()
{
  g_log_remove_handler (NULL, handler_);
  g_log_set_always_fatal (old_fatal_mask_);
  /* A worker thread may have logged last and never been joined: its lines are ours only now. */
  std::lock_guard<std::mutex> lock (mutex_);
}

void
LogCapture::handle (const gchar *, GLogLevelFlags level, const gchar *message, gpointer data)
{
  LogCapture *self = static_cast<LogCapture *> (data);
  std::unique_lock<std::mutex> lock (self->mutex_);
  self->lines_.push_back ({ (GLogLevelFlags)(level & G_LOG_LEVEL_MASK), message });
  std::function<void (const std::string &)> hook = self->hook_;
  lock.unlock ();
  if (hook)
    hook (message);
}

std::vector<LogCapture::Line>
LogCapture::lines () const
{
  std::lock_guard<std::mutex> lock (mutex_);
  return lines_;
}

bool
LogCapture::contains (const std::string &text) const
{
  return count (text) > 0;
}

size_t
LogCapture::count (const std::string &text) const
{
  size_t found = 0;
  for (const Line &line : lines ())
    found += line.message.find (text) != std::string::npos;
  return found;
}

void
LogCapture::clear ()
{
  std::lock_guard<std::mutex> lock (mutex_);
  lines_.clear ();
}

void
LogCapture::set_hook (std::function<void (const std::string &message)> hook)
{
  std::lock_guard<std::mutex> lock (mutex_);
  hook_ = std::move (hook);
}

void
LogCapture::print_problems () const
{
  for (const Line &line : lines ())
    if (line.level != G_LOG_LEVEL_DEBUG)
      std::cerr << line.message << "\n";
}
