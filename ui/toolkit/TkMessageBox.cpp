#include "TkMessageBox.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace
{
/* The catalogue IDs of the standard buttons the program uses. */
const char *
buttonTextId (QDialogButtonBox::StandardButton button)
{
  switch (button)
    {
    case QDialogButtonBox::Yes:
      return "qtn_comm_yes";
    case QDialogButtonBox::No:
      return "qtn_comm_no";
    case QDialogButtonBox::Cancel:
      return "qtn_comm_cancel";
    default:
      return "qtn_comm_ok";
    }
}
} // namespace

TkMessageBox::TkMessageBox (const QString &title, const QString &text,
                            QDialogButtonBox::StandardButtons buttons, QWidget *parent)
    : QDialog (parent), title_ (new QLabel (title)), text_ (new QLabel (text)),
      buttons_ (new QDialogButtonBox (buttons, Qt::Vertical))
{
  setWindowModality (Qt::WindowModal);
  setMinimumWidth (440);
  /* Texts carry names from cards and logs: never markup. */
  title_->setTextFormat (Qt::PlainText);
  text_->setTextFormat (Qt::PlainText);
  title_->setObjectName (QStringLiteral ("tkTitle"));
  title_->setWordWrap (true);
  title_->setVisible (!title.isEmpty ());
  text_->setWordWrap (true);
  for (QAbstractButton *button : buttons_->buttons ())
    {
      button->setText (qtTrId (buttonTextId (buttons_->standardButton (button))));
      if (auto *push = qobject_cast<QPushButton *> (button))
        push->setAutoDefault (false);
    }
  auto *layout = new QVBoxLayout (this);
  layout->setContentsMargins (24, 24, 24, 24);
  layout->setSpacing (20);
  layout->addWidget (title_);
  layout->addWidget (text_);
  layout->addWidget (buttons_);
  connect (buttons_, &QDialogButtonBox::clicked, this, &TkMessageBox::buttonClicked);
}

void
TkMessageBox::setTitle (const QString &title)
{
  title_->setText (title);
  title_->setVisible (!title.isEmpty ());
}

QString
TkMessageBox::title () const
{
  return title_->text ();
}

void
TkMessageBox::setText (const QString &text)
{
  text_->setText (text);
}

QString
TkMessageBox::text () const
{
  return text_->text ();
}

QAbstractButton *
TkMessageBox::button (QDialogButtonBox::StandardButton which) const
{
  return buttons_->button (which);
}

void
TkMessageBox::appear ()
{
  show ();
  raise ();
  activateWindow ();
}

void
TkMessageBox::buttonClicked (QAbstractButton *button)
{
  QDialogButtonBox::ButtonRole role = buttons_->buttonRole (button);
  /* done() reports accepted and rejected only for the codes 1 and 0; these are button codes. */
  done (buttons_->standardButton (button));
  if (role == QDialogButtonBox::AcceptRole || role == QDialogButtonBox::YesRole)
    emit accepted ();
  else
    emit rejected ();
}

void
TkMessageBox::showEvent (QShowEvent *event)
{
  QDialog::showEvent (event);
  emit appeared ();
}
