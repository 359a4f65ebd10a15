#include "TkBanner.h"

#include <QTimer>

namespace
{
const int bannerShownMs = 3000;
const int bannerMargin = 16;
}

TkBanner::TkBanner (QWidget *parent, const QString &text) : QLabel (text, parent)
{
  setObjectName (QStringLiteral ("tkBanner"));
  /* Banners name backups: their names are never markup. */
  setTextFormat (Qt::PlainText);
  setWordWrap (true);
  setAttribute (Qt::WA_DeleteOnClose);
  setAttribute (Qt::WA_TransparentForMouseEvents);
  if (parent == nullptr)
    setWindowFlags (Qt::ToolTip | Qt::FramelessWindowHint);
}

TkBanner *
TkBanner::showText (QWidget *parent, const QString &text)
{
  QWidget *window = parent != nullptr ? parent->window () : nullptr;
  auto *banner = new TkBanner (window, text);
  if (window != nullptr)
    {
      banner->setFixedWidth (window->width () - 2 * bannerMargin);
      banner->adjustSize ();
      banner->move (bannerMargin, bannerMargin);
    }
  banner->show ();
  banner->raise ();
  QTimer::singleShot (bannerShownMs, banner, &QWidget::close);
  return banner;
}
