#include "ProgressReporter.h"
#include "offscreen-application.h"

#include <QSignalSpy>
#include <QTimerEvent>
#include <gtest/gtest.h>

namespace
{
/* One tick of the reporter's running timer, without waiting a second for it. */
void
tick (ProgressReporter &reporter, int times = 1)
{
  for (int i = 0; i < times; i++)
    {
      QTimerEvent event (reporter.timerId ());
      QCoreApplication::sendEvent (&reporter, &event);
    }
}
} // namespace

TEST (ProgressReporter, RealProgressLiftsTheBarUpTo60AndTicksCreepOnTo100)
{
  ensureApplication ();
  ProgressReporter reporter;
  QSignalSpy progress (&reporter, &ProgressReporter::signalProgress);
  reporter.slotStartReportingProgress ();
  ASSERT_NE (reporter.timerId (), -1);

  reporter.slotActualProgressChanged (90);
  EXPECT_EQ (reporter.actualProgress (), 60);
  EXPECT_FLOAT_EQ (reporter.displayedProgress (), 60.0f);
  tick (reporter);
  EXPECT_FLOAT_EQ (reporter.displayedProgress (), 62.0f);
  ASSERT_EQ (progress.count (), 1);
  EXPECT_EQ (progress.at (0).at (0).toInt (), 62);

  /* Lower real progress never moves the bar back. */
  reporter.slotActualProgressChanged (30);
  EXPECT_EQ (reporter.actualProgress (), 60);
  EXPECT_FLOAT_EQ (reporter.displayedProgress (), 62.0f);

  tick (reporter, 400);
  EXPECT_LE (reporter.displayedProgress (), 100.0f);
  EXPECT_GT (reporter.displayedProgress (), 99.8f);
  for (const QList<QVariant> &value : progress)
    EXPECT_LE (value.at (0).toInt (), 100);

  /* A new start begins again from 1 with no real progress. */
  reporter.slotStartReportingProgress ();
  EXPECT_EQ (reporter.actualProgress (), 0);
  EXPECT_FLOAT_EQ (reporter.displayedProgress (), 1.0f);
  tick (reporter);
  EXPECT_FLOAT_EQ (reporter.displayedProgress (), 1.0f + 39.0f / 20.0f);

  reporter.slotStopReportingProgress ();
  EXPECT_EQ (reporter.timerId (), -1);
}

TEST (ProgressReporter, BarStopsJustBelowAStepUntilRealProgressArrives)
{
  ensureApplication ();
  ProgressReporter reporter;
  QSignalSpy progress (&reporter, &ProgressReporter::signalProgress);
  reporter.slotStartReportingProgress ();
  reporter.slotActualProgressChanged (40);
  tick (reporter, 200);
  float resting = reporter.displayedProgress ();
  /* Within a tenth of 60 the step no longer pulls: the value stays, short of 60. */
  EXPECT_LT (resting, 60.0f);
  EXPECT_GE (resting, 59.9f);
  tick (reporter, 50);
  EXPECT_EQ (reporter.displayedProgress (), resting);
  EXPECT_EQ (progress.last ().at (0).toInt (), 59);

  reporter.slotActualProgressChanged (60);
  tick (reporter);
  EXPECT_FLOAT_EQ (reporter.displayedProgress (), 62.0f);
}
