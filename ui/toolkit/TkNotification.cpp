#include "TkNotification.h"

#include "TkTracing.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

namespace
{
const int serverChoosesTimeout = -1;
}

bool
TkNotification::publish (const QString &eventType, const QString &summary, const QString &body)
{
  QDBusMessage notify = QDBusMessage::createMethodCall (
      QStringLiteral ("org.freedesktop.Notifications"),
      QStringLiteral ("/org/freedesktop/Notifications"),
      QStringLiteral ("org.freedesktop.Notifications"), QStringLiteral ("Notify"));
  QVariantMap hints{ { QStringLiteral ("category"), eventType } };
  notify << QCoreApplication::applicationName () << 0u << QString () << summary << body
         << QStringList () << hints << serverChoosesTimeout;
  bool sent = QDBusConnection::sessionBus ().send (notify);
  TK_TRACE ("Notification " + eventType + (sent ? " sent" : " could not be sent"));
  return sent;
}
