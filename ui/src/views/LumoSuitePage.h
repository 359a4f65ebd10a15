#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

/* The full-screen page shown while the desktop suite backs up or restores the phone: what is
 * going on, and a busy indicator. Like the restore sheet, its window is never pinged, cannot be
 * minimised and takes touches everywhere. */
class LumoSuitePage : public QWidget
{
  Q_OBJECT

public:
  explicit LumoSuitePage (const QString &text, QWidget *parent = nullptr);

  void setText (const QString &text);
  /* The suite cancelled: the indicator stops while the operation winds down. */
  void setCancelling ();

protected:
  void showEvent (QShowEvent *event) override;
  void resizeEvent (QResizeEvent *event) override;

private:
  QLabel *label_;
  QProgressBar *indicator_;
};
