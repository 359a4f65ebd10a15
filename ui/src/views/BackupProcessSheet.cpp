#include "BackupProcessSheet.h"

BackupProcessSheet::BackupProcessSheet (QWidget *parent)
    : ProcessSheet ("qtn_back_newbackuptitle", "qtn_back_creatingbackup", parent)
{
}

void
BackupProcessSheet::slotOnBackupFinished ()
{
  setCompleted ();
}
