#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QVBoxLayout;

/* A page of the application window: a header with the title and the escape button, and a body. */
class TkPage : public QWidget
{
  Q_OBJECT

public:
  enum EscapeMode
  {
    EscapeBack,
    EscapeClose
  };

  explicit TkPage (QWidget *parent = nullptr);

  void setTitle (const QString &title);
  QString title () const;
  void setEscapeMode (EscapeMode mode);
  QPushButton *escapeButton () const
  {
    return escapeButton_;
  }

  /* The body's layout, for the page's content. */
  QVBoxLayout *bodyLayout () const
  {
    return body_;
  }

Q_SIGNALS:
  void backButtonClicked ();
  void closeButtonClicked ();
  void appeared ();

protected:
  void showEvent (QShowEvent *event) override;

private:
  QLabel *title_;
  QPushButton *escapeButton_;
  QVBoxLayout *body_;
  EscapeMode escapeMode_ = EscapeBack;
};
