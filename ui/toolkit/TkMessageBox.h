#pragma once

#include <QAbstractButton>
#include <QDialog>
#include <QDialogButtonBox>
#include <QList>
#include <QPair>

class QFrame;
class QLabel;
class QPushButton;

/* A message box or query: title, text and standard buttons. finished(int) carries the standard
 * button pressed (QDialogButtonBox::Ok is 1024), or 0 when the box was rejected from outside;
 * accepted() follows an accept or yes button, rejected() any other.
 * With a parent the box is drawn inside the parent's window, as a phone toolkit does: over the
 * topmost sheet of that window, on a dimmed page, centred, its buttons in a row with the
 * affirmative one on the right. */
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
  /* The box itself, without the dimmed page around it. */
  QFrame *panel () const
  {
    return panel_;
  }

  /* Shows the box without blocking. */
  void appear ();

Q_SIGNALS:
  void appeared ();

protected:
  void setVisible (bool visible) override;
  void showEvent (QShowEvent *event) override;
  void paintEvent (QPaintEvent *event) override;
  bool eventFilter (QObject *watched, QEvent *event) override;

private:
  void buttonClicked (QDialogButtonBox::StandardButton which);
  void coverHost ();

  QFrame *panel_;
  QLabel *title_;
  QLabel *text_;
  QList<QPair<QDialogButtonBox::StandardButton, QPushButton *>> buttons_;
};
