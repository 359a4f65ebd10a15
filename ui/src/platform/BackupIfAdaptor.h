#pragma once

#include <QDBusAbstractAdaptor>
#include <QString>

class BackupService;

/* Exports BackupService's "com.korvel.backup.plugin" interface: "request" and "cancel". */
class BackupIfAdaptor : public QDBusAbstractAdaptor
{
  Q_OBJECT
  Q_CLASSINFO ("D-Bus Interface", "com.korvel.backup.plugin")
  Q_CLASSINFO ("D-Bus Introspection",
               "  <interface name=\"com.korvel.backup.plugin\">\n"
               "    <method name=\"request\">\n"
               "      <arg name=\"operation\" type=\"s\" direction=\"in\"/>\n"
               "      <arg name=\"command\" type=\"s\" direction=\"in\"/>\n"
               "      <arg name=\"fileSize\" type=\"i\" direction=\"in\"/>\n"
               "      <arg name=\"result\" type=\"i\" direction=\"out\"/>\n"
               "      <arg name=\"filePath\" type=\"s\" direction=\"out\"/>\n"
               "    </method>\n"
               "    <method name=\"cancel\"/>\n"
               "  </interface>\n")

public:
  /* Owned by service, its Qt parent. */
  explicit BackupIfAdaptor (BackupService *service);

public Q_SLOTS:
  int request (const QString &operation, const QString &command, int fileSize, QString &filePath);
  void cancel ();

private:
  BackupService *service_;
};
