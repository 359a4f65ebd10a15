#pragma once

#include <QLabel>

/* A transient, non-modal note over the window, gone after a few seconds. */
class TkBanner : public QLabel
{
  Q_OBJECT

public:
  /* Shows text over parent's window (or on its own without a parent); the banner deletes
   * itself. */
  static TkBanner *showText (QWidget *parent, const QString &text);

private:
  TkBanner (QWidget *parent, const QString &text);
};
