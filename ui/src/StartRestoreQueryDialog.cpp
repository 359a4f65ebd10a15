#include "StartRestoreQueryDialog.h"

#include "BackupMessageBoxes.h"

StartRestoreQueryDialog::StartRestoreQueryDialog (QWidget *mainView)
    : TkMessageBox (qtTrId ("qtn_back_restoretheseitems_tit"),
                    qtTrId ("qtn_back_restoretheseitems"),
                    QDialogButtonBox::Yes | QDialogButtonBox::No, mainView)
{
  setAttribute (Qt::WA_DeleteOnClose);
  BackupMessageBoxes::closeWithSubWindows (this, mainView);
}
