#include "TkLockIcon.h"

#include <QPainter>
#include <QPainterPath>

namespace
{
const QSize lockSize (18, 22);
} // namespace

TkLockIcon::TkLockIcon (const QString &accessibleName, QWidget *parent) : QWidget (parent)
{
  setAccessibleName (accessibleName);
  setToolTip (accessibleName);
  setFixedSize (lockSize);
}

QSize
TkLockIcon::sizeHint () const
{
  return lockSize;
}

void
TkLockIcon::paintEvent (QPaintEvent *)
{
  QPainter painter (this);
  painter.setRenderHint (QPainter::Antialiasing);
  QColor ink = palette ().color (isEnabled () ? QPalette::Active : QPalette::Disabled,
                                 QPalette::WindowText);
  const qreal w = width ();
  const qreal h = height ();
  /* The shackle: an arch over the body. */
  painter.setPen (QPen (ink, w * 0.14));
  painter.setBrush (Qt::NoBrush);
  QRectF arch (w * 0.25, h * 0.08, w * 0.5, h * 0.5);
  QPainterPath shackle;
  shackle.moveTo (arch.left (), h * 0.5);
  shackle.lineTo (arch.left (), arch.center ().y ());
  shackle.arcTo (arch, 180, -180);
  shackle.lineTo (arch.right (), h * 0.5);
  painter.drawPath (shackle);
  /* The body, with a keyhole cut out of it. */
  QPainterPath body;
  body.addRoundedRect (QRectF (w * 0.06, h * 0.45, w * 0.88, h * 0.52), w * 0.1, w * 0.1);
  QPainterPath keyhole;
  keyhole.addEllipse (QPointF (w * 0.5, h * 0.66), w * 0.09, w * 0.09);
  keyhole.addRect (QRectF (w * 0.46, h * 0.66, w * 0.08, h * 0.17));
  painter.setPen (Qt::NoPen);
  painter.setBrush (ink);
  painter.drawPath (body.subtracted (keyhole));
}
