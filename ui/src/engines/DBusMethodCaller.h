#pragma once

#include <QDBusConnection>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

class QDBusPendingCallWatcher;

/* How a batch of calls ended. */
enum DBusCallStatus
{
  DBusCallFinished = 0, /* every call returned, successfully or not */
  DBusCallCancelled = 1,
};
Q_DECLARE_METATYPE (DBusCallStatus)

/* Selects applications by the backup method their configuration declares. */
enum BackupMethodSelector
{
  BackupMethodDBus = 1,
  BackupMethodScripts = 2,
  BackupMethodPermanentFiles = 3,
};

/* Where one application's backup client object lives. */
struct DBusServiceInfo
{
  QString appName;
  QString service;
  QString path;
};

/* Calls one "com.korvel.backupclient" method on many applications at once over the session bus
 * and emits finished once every application has answered, failed or timed out, or when the batch
 * is cancelled. Main thread only. */
class DBusMethodCaller : public QObject
{
  Q_OBJECT

public:
  DBusMethodCaller ();
  ~DBusMethodCaller () override;

  /* The configured applications with data in selectedCategories whose backup method matches. */
  QStringList getAppNames (int backupMethod, int selectedCategories);
  void printAppNames (int selectedCategories, const QStringList &names);
  /* The matching applications that declare a D-Bus service; the others are left out. */
  QList<DBusServiceInfo> getDBusServiceInfos (int backupMethod, int selectedCategories);

  /* Sends methodName with arguments to every service; timeout in ms, 0 for one hour. True when
   * calls are outstanding, so that finished will follow; false for an empty list or while an
   * earlier batch is still running. */
  bool callDBusMethod (QString methodName, const QList<DBusServiceInfo> &services,
                       const QList<QVariant> &arguments, int timeout);
  /* Abandons the outstanding calls; finished(DBusCallCancelled) follows in every case. */
  void cancelRequests ();
  /* Appends the failed applications of the last batch to the script error log. */
  void writeFailedAppNamesToErrorLog ();

  /* Valid from one callDBusMethod to the next. */
  const QStringList &getErrorApps () const
  {
    return errorApps;
  }
  const QStringList &getFailedApps () const
  {
    return failedApps;
  }
  /* The applications of the last batch that gave no answer within its timeout. */
  const QStringList &getTimedOutApps () const
  {
    return timedOutApps;
  }

Q_SIGNALS:
  void finished (DBusCallStatus status, QString methodName);

public Q_SLOTS:
  void callFinishedSlot (QDBusPendingCallWatcher *watcher);

private:
  QStringList errorApps;
  QStringList failedApps;
  QStringList timedOutApps;
  QDBusConnection connection;
  QMap<QDBusPendingCallWatcher *, DBusServiceInfo> pendingCalls;
  QMutex mutex;
  QString methodName;
  qint64 startTime;
};
