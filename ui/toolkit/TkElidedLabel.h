#pragma once

#include <QLabel>

/* A one-line plain-text label that never widens its window: text too long for the label's width
 * is shown elided in the middle, and the whole text is shown where there is room. text() keeps
 * the whole text. */
class TkElidedLabel : public QLabel
{
  Q_OBJECT

public:
  explicit TkElidedLabel (const QString &text = QString (), QWidget *parent = nullptr);

  /* Where the ellipsis goes; in the middle unless set. */
  void setElideMode (Qt::TextElideMode mode);

  /* One line high, whatever line breaks the text holds. */
  QSize sizeHint () const override;
  /* An ellipsis wide: the layout may shrink the label that far. */
  QSize minimumSizeHint () const override;

  /* text on one line (line breaks and other control characters shown as spaces), elided to width
   * pixels in the font of widget, in the middle unless mode says otherwise. */
  static QString elided (const QString &text, QWidget *widget, int width,
                         Qt::TextElideMode mode = Qt::ElideMiddle);
  /* text elided to the line of a sheet or message on the screen, for a name inside a sentence. */
  static QString elidedToScreen (const QString &text, QWidget *widget);

protected:
  void paintEvent (QPaintEvent *event) override;

private:
  Qt::TextElideMode mode_ = Qt::ElideMiddle;
};
