#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

/* The full-screen page shown while the desktop suite backs up or restores the phone: what is
 * going on, and a busy indicator. */
class LumoSuitePage : public QWidget
{
  Q_OBJECT

public:
  explicit LumoSuitePage (const QString &text, QWidget *parent = nullptr);

  void setText (const QString &text);
  /* The suite cancelled: the indicator stops while the operation winds down. */
  void setCancelling ();

private:
  QLabel *label_;
  QProgressBar *indicator_;
};
