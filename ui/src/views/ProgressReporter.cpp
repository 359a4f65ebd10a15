#include "ProgressReporter.h"

#include <QTimerEvent>

#include <algorithm>

namespace
{
const int tickMs = 1000;
/* Real progress never lifts the bar beyond this; the last stretch is the final steps' share. */
const int actualCeiling = 60;
const float firstStep = 40.0f;
const float secondStep = 60.0f;
const float full = 100.0f;
const float minimumDistance = 0.1f;
const float stepFraction = 20.0f;
} // namespace

ProgressReporter::ProgressReporter (QObject *parent) : QObject (parent)
{
}

void
ProgressReporter::slotStartReportingProgress ()
{
  slotStopReportingProgress ();
  timerId_ = startTimer (tickMs);
  actual_ = 0;
  displayed_ = 1.0f;
}

void
ProgressReporter::slotStopReportingProgress ()
{
  if (timerId_ != -1)
    killTimer (timerId_);
  timerId_ = -1;
}

void
ProgressReporter::slotActualProgressChanged (int progress)
{
  int capped = std::min (progress, actualCeiling);
  if (actual_ < capped)
    actual_ = capped;
  if (float (actual_) > displayed_)
    displayed_ = float (actual_);
}

void
ProgressReporter::timerEvent (QTimerEvent *event)
{
  if (event->timerId () != timerId_)
    return QObject::timerEvent (event);
  float target = displayed_ < firstStep ? firstStep : displayed_ < secondStep ? secondStep : full;
  float distance = target - displayed_;
  if (distance > minimumDistance)
    displayed_ = std::min (displayed_ + distance / stepFraction, full);
  Q_EMIT signalProgress (int (displayed_));
}
