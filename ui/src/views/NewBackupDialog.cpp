#include "NewBackupDialog.h"

#include "BackupMessageBoxes.h"
#include "TkBanner.h"
#include "Tracing.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

NewBackupDialog::NewBackupDialog (QWidget *mainView)
    : TkSheet (mainView), notesField_ (new QLineEdit), passwordField_ (new QLineEdit),
      confirmField_ (new QLineEdit), message_ (new QLabel), body_ (new QLabel)
{
  notesField_->setObjectName (QStringLiteral ("notesField"));
  notesField_->setMaxLength (maxNotesLength);
  passwordField_->setObjectName (QStringLiteral ("passwordField"));
  passwordField_->setEchoMode (QLineEdit::Password);
  confirmField_->setObjectName (QStringLiteral ("confirmField"));
  confirmField_->setEchoMode (QLineEdit::Password);
  message_->setObjectName (QStringLiteral ("tkInlineMessage"));
  message_->setWordWrap (true);
  message_->hide ();
  body_->setWordWrap (true);

  bodyLayout ()->addWidget (notesField_);
  bodyLayout ()->addWidget (passwordField_);
  bodyLayout ()->addWidget (confirmField_);
  bodyLayout ()->addWidget (message_);
  bodyLayout ()->addWidget (body_);
  bodyLayout ()->addStretch (1);
  retranslateUi ();

  connect (acceptButton (), &QPushButton::clicked, this,
           &NewBackupDialog::slotPushButtonStartClicked);
  connect (notesField_, &QLineEdit::returnPressed, this,
           &NewBackupDialog::slotPushButtonStartClicked);
  connect (confirmField_, &QLineEdit::returnPressed, this,
           &NewBackupDialog::slotPushButtonStartClicked);
  connect (cancelButton (), &QPushButton::clicked, this, &NewBackupDialog::slotCancelClicked,
           Qt::QueuedConnection);
  connect (this, &TkSheet::appeared, this, &NewBackupDialog::onAppeared);
  BackupMessageBoxes::closeWithSubWindows (this, mainView);
}

void
NewBackupDialog::retranslateUi ()
{
  setTitle (qtTrId ("qtn_back_newbackuptitle"));
  acceptButton ()->setText (qtTrId ("qtn_back_start"));
  cancelButton ()->setText (qtTrId ("qtn_comm_cancel"));
  notesField_->setPlaceholderText (qtTrId ("qtn_back_notes"));
  passwordField_->setPlaceholderText (qtTrId ("qtn_back_password_protect"));
  confirmField_->setPlaceholderText (qtTrId ("qtn_back_password_confirm"));
  body_->setText (qtTrId ("qtn_back_backupfilecontents"));
  if (message_->isVisible ())
    message_->setText (qtTrId ("qtn_back_passwords_differ"));
}

void
NewBackupDialog::changeEvent (QEvent *event)
{
  if (event->type () == QEvent::LanguageChange)
    retranslateUi ();
  TkSheet::changeEvent (event);
}

void
NewBackupDialog::clearFields ()
{
  notesField_->clear ();
  passwordField_->clear ();
  confirmField_->clear ();
  message_->hide ();
}

void
NewBackupDialog::setLaunchedFromDBus (bool launched)
{
  launchedFromDBus_ = launched;
}

void
NewBackupDialog::slotPushButtonStartClicked ()
{
  if (QFileInfo::exists (QDir::homePath () + QStringLiteral ("/.deskmate")))
    {
      TRACE ("PC suite connected, backup can not start");
      TkBanner::showText (this, qtTrId ("qtn_back_backupinterrupted_lumo"));
      return;
    }
  if (passwordField_->text () != confirmField_->text ())
    {
      message_->setText (qtTrId ("qtn_back_passwords_differ"));
      message_->show ();
      confirmField_->clear ();
      confirmField_->setFocus ();
      return;
    }
  notes_ = notesField_->text ().trimmed ().left (maxNotesLength);
  password_ = passwordField_->text ();
  passwordField_->clear ();
  confirmField_->clear ();
  message_->hide ();
  accept ();
  Q_EMIT signalCloseNewBackupDialog (QDialog::Accepted);
}

void
NewBackupDialog::slotCancelClicked ()
{
  reject ();
  Q_EMIT signalCloseNewBackupDialog (QDialog::Rejected);
}

void
NewBackupDialog::onAppeared ()
{
  notesField_->setFocus ();
}
