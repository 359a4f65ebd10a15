#pragma once

#include <QObject>

/* Turns the engine's jumpy per-item progress into a bar that always moves: once a second the
 * shown value creeps towards 40, then 60, then 100, and real progress lifts it up to 60. */
class ProgressReporter : public QObject
{
  Q_OBJECT

public:
  explicit ProgressReporter (QObject *parent = nullptr);

  int actualProgress () const
  {
    return actual_;
  }
  float displayedProgress () const
  {
    return displayed_;
  }
  /* The running one-second timer, or -1. */
  int timerId () const
  {
    return timerId_;
  }

Q_SIGNALS:
  void signalProgress (int progress);

public Q_SLOTS:
  void slotStartReportingProgress ();
  void slotStopReportingProgress ();
  void slotActualProgressChanged (int progress);

protected:
  void timerEvent (QTimerEvent *event) override;

private:
  int actual_ = 0;
  float displayed_ = 1.0f;
  int timerId_ = -1;
};
