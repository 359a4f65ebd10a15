#include "sf-archiver-zip.h"
#include "sf-error.h"

#include "PasswordQuerySheet.h"

#include "BackupMessageBoxes.h"
#include "TkBanner.h"
#include "TkElidedLabel.h"
#include "Tracing.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

PasswordQuerySheet::PasswordQuerySheet (SfBackupInfo *info, QWidget *mainView)
    : TkSheet (mainView), info_ (sf_backup_info_ref (info)), mainView_ (mainView),
      field_ (new QLineEdit), message_ (new QLabel)
{
  setTitle (qtTrId ("qtn_back_password_query_tit"));
  acceptButton ()->setText (qtTrId ("qtn_comm_ok"));
  cancelButton ()->setText (qtTrId ("qtn_comm_cancel"));
  /* The name comes from the card's folder: plain text, elided so that it cannot widen the sheet. */
  auto *text = new QLabel;
  text->setObjectName (QStringLiteral ("queryLabel"));
  text->setTextFormat (Qt::PlainText);
  text->setWordWrap (true);
  text->setText (qtTrId ("qtn_back_password_query")
                     .arg (TkElidedLabel::elidedToScreen (
                         QString::fromUtf8 (sf_backup_info_get_name (info_)), text)));
  field_->setObjectName (QStringLiteral ("passwordField"));
  field_->setEchoMode (QLineEdit::Password);
  field_->setPlaceholderText (qtTrId ("qtn_back_password"));
  message_->setObjectName (QStringLiteral ("tkInlineMessage"));
  message_->setTextFormat (Qt::PlainText);
  message_->setWordWrap (true);
  message_->hide ();
  bodyLayout ()->addWidget (text);
  bodyLayout ()->addWidget (field_);
  bodyLayout ()->addWidget (message_);
  bodyLayout ()->addStretch (1);

  check_ = [this] (const QString &password) { return checkPassword (info_, password); };
  connect (acceptButton (), &QPushButton::clicked, this, &PasswordQuerySheet::slotAcceptClicked);
  connect (field_, &QLineEdit::returnPressed, this, &PasswordQuerySheet::slotAcceptClicked);
  connect (cancelButton (), &QPushButton::clicked, this, &QDialog::reject);
  connect (this, &TkSheet::appeared, field_, [this] () { field_->setFocus (); });
  BackupMessageBoxes::closeWithSubWindows (this, mainView);
}

PasswordQuerySheet::~PasswordQuerySheet ()
{
  sf_backup_info_unref (info_);
}

void
PasswordQuerySheet::setPasswordCheck (PasswordCheck check)
{
  check_ = std::move (check);
}

bool
PasswordQuerySheet::checkPassword (SfBackupInfo *info, const QString &password)
{
  QByteArray bytes = password.toUtf8 ();
  guint32 categories = sf_backup_info_get_categories (info);
  for (gint index = 0; index < SF_CATEGORY_COUNT; index++)
    {
      SfCategory category = sf_category_from_index (index);
      if (!(categories & category))
        continue;
      GError *error = nullptr;
      SfZipReader *reader
          = sf_archiver_zip_open_category (info, category, bytes.constData (), &error);
      if (reader != nullptr)
        {
          sf_zip_reader_free (reader);
          return true;
        }
      bool wrong = g_error_matches (error, SF_ERROR, SF_ERROR_WRONG_PASSWORD);
      g_error_free (error);
      if (wrong)
        return false;
    }
  return true;
}

void
PasswordQuerySheet::slotAcceptClicked ()
{
  QString password = field_->text ();
  field_->clear ();
  if (check_ (password))
    {
      accept ();
      Q_EMIT passwordGiven (password);
      return;
    }
  attempts_++;
  TRACE ("Wrong password, attempt " + QString::number (attempts_));
  if (attempts_ < maxAttempts)
    {
      message_->setText (qtTrId ("qtn_back_wrong_password", attemptsLeft ()));
      message_->show ();
      /* The field was emptied: the next try is typed there. */
      field_->setFocus ();
      return;
    }
  TkBanner::showText (mainView_, qtTrId ("qtn_back_password_refused"));
  reject ();
  Q_EMIT passwordRefused ();
}
