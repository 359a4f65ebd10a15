#include "LumoSuitePage.h"

#include "WindowProperties.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

LumoSuitePage::LumoSuitePage (const QString &text, QWidget *parent)
    : QWidget (parent), label_ (new QLabel (text, this)), indicator_ (new QProgressBar (this))
{
  setObjectName ("LumoSuitePage");
  label_->setTextFormat (Qt::PlainText);
  label_->setWordWrap (true);
  label_->setAlignment (Qt::AlignCenter);
  indicator_->setRange (0, 0);
  indicator_->setTextVisible (false);
  QVBoxLayout *layout = new QVBoxLayout (this);
  layout->addStretch ();
  layout->addWidget (label_);
  layout->addWidget (indicator_);
  layout->addStretch ();
}

void
LumoSuitePage::setText (const QString &text)
{
  label_->setText (text);
}

void
LumoSuitePage::setCancelling ()
{
  indicator_->setRange (0, 1);
  indicator_->setValue (0);
  indicator_->setEnabled (false);
}

void
LumoSuitePage::showEvent (QShowEvent *event)
{
  QWidget::showEvent (event);
  WindowProperties::applyToOperationWindow (this);
}

void
LumoSuitePage::resizeEvent (QResizeEvent *event)
{
  QWidget::resizeEvent (event);
  /* The touch region follows the page's size. */
  if (isVisible ())
    WindowProperties::setOperationProperties (this);
}
