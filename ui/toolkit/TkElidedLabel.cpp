#include "TkElidedLabel.h"

#include "TkApplicationWindow.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>

namespace
{
/* What the margins of a sheet or message box leave of the screen's width. */
const int screenMargins = 96;
} // namespace

TkElidedLabel::TkElidedLabel (const QString &text, QWidget *parent) : QLabel (text, parent)
{
  setTextFormat (Qt::PlainText);
  setWordWrap (false);
}

void
TkElidedLabel::setElideMode (Qt::TextElideMode mode)
{
  mode_ = mode;
  update ();
}

QSize
TkElidedLabel::sizeHint () const
{
  QMargins margins = contentsMargins ();
  return QSize (QLabel::sizeHint ().width (),
                QFontMetrics (font ()).height () + margins.top () + margins.bottom ());
}

QSize
TkElidedLabel::minimumSizeHint () const
{
  QFontMetrics metrics (font ());
  QMargins margins = contentsMargins ();
  return QSize (metrics.horizontalAdvance (QStringLiteral ("\u2026")) + margins.left ()
                    + margins.right (),
                metrics.height () + margins.top () + margins.bottom ());
}

QString
TkElidedLabel::elided (const QString &text, QWidget *widget, int width, Qt::TextElideMode mode)
{
  widget->ensurePolished ();
  /* Line breaks of a hostile name or note (\n, \r, U+2028, U+2029 and the like) would otherwise
   * pass the one-line measure and draw a second line. */
  QString line = text;
  for (QChar &character : line)
    if (character.category () == QChar::Other_Control
        || character.category () == QChar::Separator_Line
        || character.category () == QChar::Separator_Paragraph)
      character = QLatin1Char (' ');
  return QFontMetrics (widget->font ()).elidedText (line, mode, width);
}

QString
TkElidedLabel::elidedToScreen (const QString &text, QWidget *widget)
{
  return elided (text, widget, TkApplicationWindow::phoneSize ().width () - screenMargins);
}

void
TkElidedLabel::paintEvent (QPaintEvent *)
{
  QPainter painter (this);
  QRect area = contentsRect ();
  QString shown = elided (text (), this, area.width (), mode_);
  style ()->drawItemText (&painter, area,
                          QStyle::visualAlignment (layoutDirection (), alignment ()), palette (),
                          isEnabled (), shown, foregroundRole ());
}
