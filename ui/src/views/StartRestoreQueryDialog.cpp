#include "StartRestoreQueryDialog.h"

#include "BackupMessageBoxes.h"
#include "TkElidedLabel.h"

StartRestoreQueryDialog::StartRestoreQueryDialog (QWidget *mainView, const QString &name)
    : TkMessageBox (QString (), qtTrId ("qtn_back_restoretheseitems"),
                    QDialogButtonBox::Yes | QDialogButtonBox::No, mainView)
{
  /* The name comes from the card's folder: elided so that it cannot widen the box. */
  setTitle (
      name.isEmpty ()
          ? qtTrId ("qtn_back_restoretheseitems_tit")
          : qtTrId ("qtn_back_restore_named_tit").arg (TkElidedLabel::elidedToScreen (name, this)));
  setAttribute (Qt::WA_DeleteOnClose);
  BackupMessageBoxes::closeWithSubWindows (this, mainView);
}
