#include "TkFeedback.h"

#include "TkTracing.h"

#include <QProcess>
#include <QStandardPaths>

namespace
{
QString
themeSound (const QString &event)
{
  if (event == QLatin1String ("warning_strong"))
    return QStringLiteral ("dialog-error");
  if (event == QLatin1String ("information_snd"))
    return QStringLiteral ("dialog-information");
  return QStringLiteral ("dialog-warning");
}
} // namespace

TkFeedback::TkFeedback (QObject *parent)
    : QObject (parent),
      player_ (QStandardPaths::findExecutable (QStringLiteral ("canberra-gtk-play")))
{
}

void
TkFeedback::play (const QString &event)
{
  TK_TRACE ("Feedback event " + event);
  if (!player_.isEmpty ())
    QProcess::startDetached (player_, { QStringLiteral ("-i"), themeSound (event) });
  Q_EMIT played (event);
}
