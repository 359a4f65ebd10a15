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

  /* An ellipsis wide: the layout may shrink the label that far. */
  QSize minimumSizeHint () const override;

  /* text elided in the middle to width pixels in the font of widget. */
  static QString elided (const QString &text, QWidget *widget, int width);
  /* text elided to the line of a sheet or message on the screen, for a name inside a sentence. */
  static QString elidedToScreen (const QString &text, QWidget *widget);

protected:
  void paintEvent (QPaintEvent *event) override;
};
