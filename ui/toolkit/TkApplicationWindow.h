#pragma once

#include <QMainWindow>

class QStackedWidget;
class TkPage;

/* The one window of a toolkit application: portrait, of phone proportions, showing one page at a
 * time. */
class TkApplicationWindow : public QMainWindow
{
  Q_OBJECT

public:
  explicit TkApplicationWindow (QWidget *parent = nullptr);

  /* Shows page, which the window takes over when it has no parent yet. */
  void showPage (TkPage *page);
  TkPage *currentPage () const;

  /* Orientation follows the device; a desktop has none, so the lock is only recorded. */
  void setPortraitOrientation ();
  void setOrientationLocked (bool locked);
  bool isOrientationLocked () const
  {
    return orientationLocked_;
  }

  static const QSize &phoneSize ();

private:
  QStackedWidget *pages_;
  bool orientationLocked_ = false;
};
