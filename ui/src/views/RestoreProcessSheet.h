#pragma once

#include "ProcessSheet.h"

/* The sheet shown while a restore runs. A restore cannot be stopped: its cancel button asks
 * (cancelRequested()) so that the main view can say so. */
class RestoreProcessSheet : public ProcessSheet
{
  Q_OBJECT

public:
  explicit RestoreProcessSheet (QWidget *parent);

public Q_SLOTS:
  void slotOnRestoreFinished ();
};
