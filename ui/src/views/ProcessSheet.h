#pragma once

#include "TkSheet.h"

class QLabel;
class QProgressBar;

/* The full-screen sheet shown while an operation runs: what is going on, a bar from 0 to 100 and
 * a cancel button that emits cancelRequested(). No key, close or reject dismisses it until its
 * owner calls dismiss() at the operation's end. */
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
  /* The operation has ended: closes the sheet. */
  void dismiss ();

Q_SIGNALS:
  void cancelRequested ();

public Q_SLOTS:
  void slotProgressChanged (int currentProgress);
  /* Emits cancelRequested(); the sheet stays as it is until the engine starts cancelling. */
  void slotOnCancelButtonPressed ();
  /* The engine cancels: disables the cancel button and says that the operation is being
   * cancelled. */
  void slotOnEngineStartedCancel ();
  void reject () override;

protected:
  ProcessSheet (const char *titleId, const char *labelId, QWidget *parent);
  void setCompleted ();

private:
  QLabel *label_;
  QProgressBar *bar_;
  bool cancelling_ = false;
  bool ended_ = false;
};
