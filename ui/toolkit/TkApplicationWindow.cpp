#include "TkApplicationWindow.h"

#include "TkPage.h"

#include <QApplication>
#include <QStackedWidget>

TkApplicationWindow::TkApplicationWindow (QWidget *parent)
    : QMainWindow (parent), pages_ (new QStackedWidget (this))
{
  setCentralWidget (pages_);
  setWindowTitle (QApplication::applicationDisplayName ());
  setFixedSize (phoneSize ());
}

const QSize &
TkApplicationWindow::phoneSize ()
{
  static const QSize size (480, 854);
  return size;
}

void
TkApplicationWindow::showPage (TkPage *page)
{
  if (pages_->indexOf (page) < 0)
    pages_->addWidget (page);
  pages_->setCurrentWidget (page);
}

TkPage *
TkApplicationWindow::currentPage () const
{
  return qobject_cast<TkPage *> (pages_->currentWidget ());
}

void
TkApplicationWindow::setPortraitOrientation ()
{
  setFixedSize (phoneSize ());
}

void
TkApplicationWindow::setOrientationLocked (bool locked)
{
  orientationLocked_ = locked;
}
