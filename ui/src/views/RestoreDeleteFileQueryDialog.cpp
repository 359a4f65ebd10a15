#include "RestoreDeleteFileQueryDialog.h"

#include "BackupMessageBoxes.h"
#include "TkElidedLabel.h"

#include <QDateTime>
#include <QLocale>

RestoreDeleteFileQueryDialog::RestoreDeleteFileQueryDialog (const QString &name, qint64 timestamp,
                                                            QWidget *mainView)
    : TkMessageBox (qtTrId ("qtn_back_deletethisbackup_tit"), QString (),
                    QDialogButtonBox::Yes | QDialogButtonBox::No, mainView)
{
  QDateTime made = QDateTime::fromSecsSinceEpoch (timestamp);
  QLocale locale;
  setText (qtTrId ("qtn_back_deletethisbackup")
               .arg (TkElidedLabel::elidedToScreen (name, this),
                     locale.toString (made.date (), QLocale::ShortFormat),
                     locale.toString (made.time (), QLocale::ShortFormat)));
  setAttribute (Qt::WA_DeleteOnClose);
  BackupMessageBoxes::closeWithSubWindows (this, mainView);
}
