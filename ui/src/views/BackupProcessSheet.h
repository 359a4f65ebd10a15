#pragma once

#include "ProcessSheet.h"

/* The sheet shown while a backup runs. */
class BackupProcessSheet : public ProcessSheet
{
  Q_OBJECT

public:
  explicit BackupProcessSheet (QWidget *parent);

public Q_SLOTS:
  void slotOnBackupFinished ();
};
