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
TkElidedLabel::elided (const QString &text, QWidget *widget, int width)
{
  widget->ensurePolished ();
  /* Line breaks of a hostile name would otherwise pass the one-line measure. */
  QString line = text;
  line.replace (QLatin1Char ('\n'), QLatin1Char (' '));
  return QFontMetrics (widget->font ()).elidedText (line, Qt::ElideMiddle, width);
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
  QString shown = elided (text (), this, area.width ());
  style ()->drawItemText (&painter, area,
                          QStyle::visualAlignment (layoutDirection (), alignment ()), palette (),
                          isEnabled (), shown, foregroundRole ());
}
