#pragma once

#include "TkSheet.h"

class QLabel;
class QProgressBar;

/* The full-screen sheet shown while an operation runs: what is going on, a bar from 0 to 100 and
 * a cancel button that emits cancelRequested(). */
class ProcessSheet : public TkSheet
{
  Q_OBJECT

public:
  int progress () const;
  QString label () const;
  bool isCancelling () const
  {
    return cancelling_;
  }

signals:
  void cancelRequested ();

public slots:
  void slotProgressChanged (int currentProgress);
  /* Disables the cancel button, says that the operation is being cancelled, emits
   * cancelRequested(). */
  virtual void slotOnCancelButtonPressed ();
  /* The engine cancels on its own: the same state, nothing emitted. */
  void slotOnEngineStartedCancel ();

protected:
  ProcessSheet (const char *titleId, const char *labelId, QWidget *parent);
  void setCompleted ();

private:
  void enterCancellingState ();

  QLabel *label_;
  QProgressBar *bar_;
  bool cancelling_ = false;
};
