#pragma once

#include "ProcessSheet.h"

/* The sheet shown while a restore runs. A restore cannot be stopped: its cancel button only
 * asks (cancelRequested()), so that the main view can say so, and the sheet stays as it is. */
class RestoreProcessSheet : public ProcessSheet
{
  Q_OBJECT

public:
  explicit RestoreProcessSheet (QWidget *parent);

public slots:
  void slotOnRestoreFinished ();
  void slotOnCancelButtonPressed () override;
};
