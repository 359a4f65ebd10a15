#include "log-capture.h"

#include <iostream>

LogCapture::LogCapture ()
{
  g_mutex_init (&mutex_);
  /* The engine writes criticals for errors; they must not abort a test. */
  old_fatal_mask_ = g_log_set_always_fatal ((GLogLevelFlags)G_LOG_FATAL_MASK);
  handler_ = g_log_set_handler (NULL, (GLogLevelFlags)(G_LOG_LEVEL_MASK | G_LOG_FLAG_RECURSION),
                                handle, this);
}

LogCapture::~LogCapture ()
{
  g_log_remove_handler (NULL, handler_);
  g_log_set_always_fatal (old_fatal_mask_);
  g_mutex_clear (&mutex_);
}

void
LogCapture::handle (const gchar *, GLogLevelFlags level, const gchar *message, gpointer data)
{
  LogCapture *self = static_cast<LogCapture *> (data);
  g_mutex_lock (&self->mutex_);
  self->lines_.push_back ({ (GLogLevelFlags)(level & G_LOG_LEVEL_MASK), message });
  std::function<void (const std::string &)> hook = self->hook_;
  g_mutex_unlock (&self->mutex_);
  if (hook)
    hook (message);
}

std::vector<LogCapture::Line>
LogCapture::lines () const
{
  g_mutex_lock (&mutex_);
  std::vector<Line> copy = lines_;
  g_mutex_unlock (&mutex_);
  return copy;
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
  g_mutex_lock (&mutex_);
  lines_.clear ();
  g_mutex_unlock (&mutex_);
}

void
LogCapture::set_hook (std::function<void (const std::string &message)> hook)
{
  g_mutex_lock (&mutex_);
  hook_ = std::move (hook);
  g_mutex_unlock (&mutex_);
}

void
LogCapture::print_problems () const
{
  for (const Line &line : lines ())
    if (line.level != G_LOG_LEVEL_DEBUG)
      std::cerr << line.message << "\n";
}
