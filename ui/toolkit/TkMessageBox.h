#pragma once

#include <QDialog>
#include <QAbstractButton>
#include <QDialogButtonBox>

class QLabel;

/* A message box or query: title, text and standard buttons. finished(int) carries the standard
 * button pressed (QDialogButtonBox::Ok is 1024), or 0 when the box was rejected from outside;
 * accepted() follows an accept or yes button, rejected() any other. */
class TkMessageBox : public QDialog
{
  Q_OBJECT

public:
  TkMessageBox (const QString &title, const QString &text,
                QDialogButtonBox::StandardButtons buttons = QDialogButtonBox::Ok,
                QWidget *parent = nullptr);

  void setTitle (const QString &title);
  QString title () const;
  void setText (const QString &text);
  QString text () const;
  QAbstractButton *button (QDialogButtonBox::StandardButton which) const;

  /* Shows the box without blocking. */
  void appear ();

signals:
  void appeared ();

protected:
  void showEvent (QShowEvent *event) override;

private:
  void buttonClicked (QAbstractButton *button);

  QLabel *title_;
  QLabel *text_;
  QDialogButtonBox *buttons_;
};
