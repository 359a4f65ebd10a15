#include "sf-backup-configurations.h"
#include "sf-utils.h"

#include "DBusMethodCaller.h"

#include "Tracing.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDateTime>

namespace
{
const char *const clientInterface = "com.korvel.backupclient";
const int defaultTimeout = 3600000;

bool
hasMethod (const SfBackupMethod &method, int backupMethod)
{
  switch (backupMethod)
    {
    case BackupMethodDBus:
      return method.dbus;
    case BackupMethodScripts:
      return method.scripts;
    case BackupMethodPermanentFiles:
      return method.permanent_files;
    default:
      return false;
    }
}

/* The one-byte answer of a backup client; anything unreadable counts as success, as does no
 * answer at all. */
uchar
replyByte (const QDBusMessage &reply)
{
  const QList<QVariant> arguments = reply.arguments ();
  if (arguments.isEmpty ())
    return 0;
  QVariant argument = arguments.first ();
  if (argument.metaType () == QMetaType::fromType<uchar> ())
    return argument.value<uchar> ();
  if (argument.metaType () == QMetaType::fromType<QDBusArgument> ())
    {
      const QDBusArgument marshalled = argument.value<QDBusArgument> ();
      uchar value = 0;
      if (marshalled.currentSignature () == "y")
        marshalled >> value;
      return value;
    }
  if (argument.convert (QMetaType::fromType<uchar> ()))
    return argument.value<uchar> ();
  return 0;
}
} // namespace

DBusMethodCaller::DBusMethodCaller ()
    : connection (QDBusConnection::sessionBus ()), startTime (QDateTime::currentSecsSinceEpoch ())
{
}

DBusMethodCaller::~DBusMethodCaller ()
{
  qDeleteAll (pendingCalls.keys ());
}

QStringList
DBusMethodCaller::getAppNames (int backupMethod, int selectedCategories)
{
  TRACE ("getAppNames");
  QStringList names;
  GSList *applications
      = sf_backup_configurations_get_applications_in_categories (selectedCategories);
  for (GSList *item = applications; item != NULL; item = item->next)
    {
      const gchar *name = static_cast<const gchar *> (item->data);
      SfBackupMethod method;
      if (sf_backup_configurations_get_backup_backup_method (name, &method) == 1
          && hasMethod (method, backupMethod))
        names << QString::fromUtf8 (name);
    }
  g_slist_free_full (applications, g_free);
  return names;
}

void
DBusMethodCaller::printAppNames (int selectedCategories, const QStringList &names)
{
  TRACE ("*****The following apps belong to categories *****"
         + QString::number (selectedCategories));
  for (const QString &name : names)
    TRACE ("***** AppName = " + name);
}

QList<DBusServiceInfo>
DBusMethodCaller::getDBusServiceInfos (int backupMethod, int selectedCategories)
{
  TRACE ("backupMethod=" + QString::number (backupMethod));
  TRACE ("selectedCategories = " + QString::number (selectedCategories));
  QStringList names = getAppNames (backupMethod, selectedCategories);
  printAppNames (selectedCategories, names);

  QList<DBusServiceInfo> services;
  for (const QString &name : names)
    {
      gboolean hasDBus = FALSE;
      SfBackupDbusInfo info = {};
      if (sf_backup_configurations_get_backup_dbus_info (name.toUtf8 ().constData (), &hasDBus,
                                                         &info)
              != 1
          || !hasDBus)
        continue;
      DBusServiceInfo service
          = { name, QString::fromUtf8 (info.service), QString::fromUtf8 (info.object) };
      services << service;
      TRACE ("*****************************");
      TRACE ("**** App name = " + service.appName);
      TRACE ("**** Service = " + service.service);
      TRACE ("**** Path  = " + service.path);
    }
  return services;
}

bool
DBusMethodCaller::callDBusMethod (QString methodName, const QList<DBusServiceInfo> &services,
                                  const QList<QVariant> &arguments, int timeout)
{
  /* A refused batch must not rename or re-time the one still outstanding. */
  if (!pendingCalls.isEmpty ())
    {
      TRACE ("DBusMethodCaller.... busy, call cancel first");
      return false;
    }
  this->methodName = methodName;
  startTime = QDateTime::currentSecsSinceEpoch ();
  errorApps.clear ();
  failedApps.clear ();
  timedOutApps.clear ();
  if (timeout == 0)
    timeout = defaultTimeout;

  QMutexLocker locker (&mutex);
  for (const DBusServiceInfo &service : services)
    {
      QDBusMessage call = QDBusMessage::createMethodCall (service.service, service.path,
                                                          clientInterface, methodName);
      if (!arguments.isEmpty ())
        call.setArguments (arguments);
      auto *watcher = new QDBusPendingCallWatcher (connection.asyncCall (call, timeout));
      pendingCalls.insert (watcher, service);
      connect (watcher, &QDBusPendingCallWatcher::finished, this,
               &DBusMethodCaller::callFinishedSlot);
    }
  return !pendingCalls.isEmpty ();
}

void
DBusMethodCaller::callFinishedSlot (QDBusPendingCallWatcher *watcher)
{
  QMutexLocker locker (&mutex);
  TRACE ("Inside callfinished slot");
  auto entry = pendingCalls.find (watcher);
  if (entry == pendingCalls.end ())
    {
      TRACE ("Reply received on invalid watcher");
      return;
    }
  const DBusServiceInfo service = entry.value ();
  qint64 elapsed = QDateTime::currentSecsSinceEpoch () - startTime;
  const QDBusMessage reply = watcher->reply ();
  uchar value = replyByte (reply);

  if (watcher->isError ())
    {
      TRACE ("***** DBUS ERROR ON INTERFACE --> " + service.service);
      TRACE ("******* DBUS MEHTOD RETURNED ERROR ****\n" + reply.errorName () + " "
             + reply.errorMessage ());
      errorApps << service.appName;
      failedApps << service.appName;
      if (reply.errorName () == QLatin1String ("org.freedesktop.DBus.Error.NoReply"))
        timedOutApps << service.appName;
    }
  else
    {
      TRACE ("**** DBUS got a valid reply from " + service.service);
      TRACE ("****** DBUS METHOD RETURNE VALUE = " + QString::number (value) + "  ******");
      if (value != 0)
        failedApps << service.appName;
    }

  pendingCalls.erase (entry);
  /* The watcher is the sender of the signal being handled: let its emission unwind first. */
  watcher->deleteLater ();
  TRACE ("The method " + methodName + "finished on interface " + service.service + "in "
         + QString::number (elapsed) + "seconds" + "(perf_check)");

  if (!pendingCalls.isEmpty ())
    {
      TRACE ("Still Need to get dbus response from remaining "
             + QString::number (pendingCalls.size ()) + " applications");
      return;
    }
  TRACE ("Received dbus response from all applications");
  TRACE ("DBusMethodCaller.....Emitting finished signal");
  /* A receiver may start the next batch on this caller at once. */
  locker.unlock ();
  Q_EMIT finished (DBusCallFinished, methodName);
}

void
DBusMethodCaller::cancelRequests ()
{
  QMutexLocker locker (&mutex);
  qDeleteAll (pendingCalls.keys ());
  pendingCalls.clear ();
  TRACE ("DBusMethodCaller.....Emitting finished, cancelled signal");
  locker.unlock ();
  Q_EMIT finished (DBusCallCancelled, methodName);
}

void
DBusMethodCaller::writeFailedAppNamesToErrorLog ()
{
  if (failedApps.isEmpty ())
    return;
  sf_utils_write_error_log (failedApps.join (",& ").toUtf8 ().constData ());
  TRACE ("writeFailedAppNamesToErrorLog \"" + failedApps.join ("\", \"") + "\"");
}
