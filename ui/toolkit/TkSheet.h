#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QVBoxLayout;

/* A sheet: a dialog covering the application window, with a header holding a cancel button, the
 * title and an accept button. The owner wires the two buttons. */
class TkSheet : public QDialog
{
  Q_OBJECT

public:
  explicit TkSheet (QWidget *parent = nullptr);

  void setTitle (const QString &title);
  QString title () const;
  QPushButton *acceptButton () const
  {
    return acceptButton_;
  }
  QPushButton *cancelButton () const
  {
    return cancelButton_;
  }
  QVBoxLayout *bodyLayout () const
  {
    return body_;
  }

  /* The sheet of window shown last and still visible, or null. */
  static TkSheet *topmostOver (QWidget *window);

  /* Shows the sheet; desktops have no appear animation, so animated only names the wish. */
  void appear (bool animated = true);

Q_SIGNALS:
  void appeared ();

protected:
  void showEvent (QShowEvent *event) override;
  void hideEvent (QHideEvent *event) override;

private:
  QLabel *title_;
  QPushButton *acceptButton_;
  QPushButton *cancelButton_;
  QVBoxLayout *body_;
};
