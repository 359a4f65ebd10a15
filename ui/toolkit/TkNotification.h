#pragma once

#include <QString>

/* System notifications through org.freedesktop.Notifications on the session bus. */
class TkNotification
{
public:
  /* Sends the notification without waiting for the server; eventType becomes its category hint.
   * False when it could not be sent. */
  static bool publish (const QString &eventType, const QString &summary, const QString &body);
};
