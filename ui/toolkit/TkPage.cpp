#include "TkPage.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TkPage::TkPage (QWidget *parent)
    : QWidget (parent), title_ (new QLabel), escapeButton_ (new QPushButton),
      body_ (new QVBoxLayout)
{
  auto *header = new QWidget;
  header->setObjectName (QStringLiteral ("tkHeader"));
  auto *headerLayout = new QHBoxLayout (header);
  title_->setObjectName (QStringLiteral ("tkTitle"));
  title_->setTextFormat (Qt::PlainText);
  escapeButton_->setObjectName (QStringLiteral ("tkEscapeButton"));
  headerLayout->addWidget (escapeButton_);
  headerLayout->addWidget (title_, 1);

  auto *layout = new QVBoxLayout (this);
  layout->setContentsMargins (0, 0, 0, 0);
  layout->addWidget (header);
  body_->setContentsMargins (16, 16, 16, 16);
  body_->setSpacing (16);
  layout->addLayout (body_, 1);

  setEscapeMode (EscapeBack);
  connect (escapeButton_, &QPushButton::clicked, this, [this] () {
    if (escapeMode_ == EscapeBack)
      Q_EMIT backButtonClicked ();
    else
      Q_EMIT closeButtonClicked ();
  });
}

void
TkPage::setTitle (const QString &title)
{
  title_->setText (title);
}

QString
TkPage::title () const
{
  return title_->text ();
}

void
TkPage::setEscapeMode (EscapeMode mode)
{
  escapeMode_ = mode;
  escapeButton_->setText (mode == EscapeBack ? QStringLiteral ("\u2039")
                                             : QStringLiteral ("\u2715"));
}

void
TkPage::showEvent (QShowEvent *event)
{
  QWidget::showEvent (event);
  Q_EMIT appeared ();
}
