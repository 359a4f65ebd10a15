#include "SSUBackupFinishedView.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

SSUBackupFinishedView::SSUBackupFinishedView (QWidget *parent) : TkPage (parent)
{
  setTitle (qtTrId ("qtn_back_backuprestoretitle"));
  setEscapeMode (EscapeBack);
  auto *text = new QLabel (qtTrId ("qtn_back_backup_ready"));
  text->setWordWrap (true);
  auto *ok = new QPushButton (qtTrId ("qtn_comm_ok"));
  ok->setObjectName (QStringLiteral ("okButton"));
  bodyLayout ()->addWidget (text);
  bodyLayout ()->addStretch (1);
  bodyLayout ()->addWidget (ok);
  connect (ok, &QPushButton::clicked, this, &SSUBackupFinishedView::ssuFinalWindowClosed);
  connect (this, &TkPage::backButtonClicked, this, &SSUBackupFinishedView::ssuFinalWindowClosed);
}
