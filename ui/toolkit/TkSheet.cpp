#include "TkSheet.h"

#include "TkApplicationWindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace
{
/* Visible sheets, the last shown last. */
QList<QPointer<TkSheet>> &
shownSheets ()
{
  static QList<QPointer<TkSheet>> sheets;
  return sheets;
}
} // namespace

TkSheet::TkSheet (QWidget *parent)
    : QDialog (parent), title_ (new QLabel), acceptButton_ (new QPushButton),
      cancelButton_ (new QPushButton), body_ (new QVBoxLayout)
{
  setWindowModality (Qt::WindowModal);
  auto *header = new QWidget;
  header->setObjectName (QStringLiteral ("tkHeader"));
  auto *headerLayout = new QHBoxLayout (header);
  title_->setObjectName (QStringLiteral ("tkTitle"));
  title_->setTextFormat (Qt::PlainText);
  title_->setAlignment (Qt::AlignCenter);
  title_->setWordWrap (true);
  acceptButton_->setObjectName (QStringLiteral ("tkAcceptButton"));
  cancelButton_->setObjectName (QStringLiteral ("tkCancelButton"));
  acceptButton_->setAutoDefault (false);
  cancelButton_->setAutoDefault (false);
  headerLayout->addWidget (cancelButton_);
  headerLayout->addWidget (title_, 1);
  headerLayout->addWidget (acceptButton_);

  auto *layout = new QVBoxLayout (this);
  layout->setContentsMargins (0, 0, 0, 0);
  layout->addWidget (header);
  body_->setContentsMargins (16, 16, 16, 16);
  body_->setSpacing (16);
  layout->addLayout (body_, 1);
  resize (TkApplicationWindow::phoneSize ());
}

void
TkSheet::setTitle (const QString &title)
{
  title_->setText (title);
}

QString
TkSheet::title () const
{
  return title_->text ();
}

void
TkSheet::appear (bool)
{
  show ();
  raise ();
  activateWindow ();
}

void
TkSheet::showEvent (QShowEvent *event)
{
  if (parentWidget () != nullptr)
    setGeometry (parentWidget ()->window ()->geometry ());
  shownSheets ().removeAll (this);
  shownSheets ().append (this);
  QDialog::showEvent (event);
  Q_EMIT appeared ();
}

void
TkSheet::hideEvent (QHideEvent *event)
{
  shownSheets ().removeAll (this);
  QDialog::hideEvent (event);
}

TkSheet *
TkSheet::topmostOver (QWidget *window)
{
  shownSheets ().removeAll (nullptr);
  for (auto it = shownSheets ().crbegin (); it != shownSheets ().crend (); ++it)
    {
      TkSheet *sheet = *it;
      if (sheet->isVisible () && sheet->parentWidget () != nullptr
          && sheet->parentWidget ()->window () == window)
        return sheet;
    }
  return nullptr;
}
