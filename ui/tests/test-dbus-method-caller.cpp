#include "dbus-mock.h"
#include "test-data.h"
#include "ui-test-support.h"

#include "DBusMethodCaller.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QStringList>

namespace
{
testing::Environment *const qtEnvironment = testing::AddGlobalTestEnvironment (new QtEnvironment);

const char *const clientInterface = "com.korvel.backupclient";

QString
contactsDir (const QString &name)
{
  return "<location type=\"dir\" category=\"contacts\">$HOME/" + name + "</location>";
}

/* A round trip to the mock over Qt's own connection: every reply the mock sent before it has then
 * reached this process. */
void
syncWith (const QString &service, const QString &path)
{
  QDBusMessage call
      = QDBusMessage::createMethodCall (service, path, "org.freedesktop.DBus.Mock", "GetCalls");
  QDBusConnection::sessionBus ().call (call);
  QCoreApplication::processEvents ();
}

class DBusMethodCallerTest : public testing::Test
{
protected:
  void SetUp () override
  {
    sf_log_start (2);
  }

  QList<DBusServiceInfo> servicesFor (int categories)
  {
    configurations.load ();
    return caller.getDBusServiceInfos (BackupMethodDBus, categories);
  }

  ApplicationConfigurations configurations;
  DBusMethodCaller caller;
};
} // namespace

TEST_F (DBusMethodCallerTest, FailingReplyMarksOnlyItsApplicationAndReachesTheErrorLog)
{
  DBusMock first (G_BUS_TYPE_SESSION, "com.test.first", "/first", clientInterface);
  DBusMock second (G_BUS_TYPE_SESSION, "com.test.second", "/second", clientInterface);
  first.add_method ("restore", "assas", "y", "ret = dbus.Byte(0)");
  second.add_method ("restore", "assas", "y", "ret = dbus.Byte(3)");
  configurations.add ("first", "backup-dbus", "com.test.first", contactsDir ("first"));
  configurations.add ("second", "backup-dbus", "com.test.second", contactsDir ("second"));
  configurations.add ("keeper", "permanent-backup-files", "com.test.keeper",
                      contactsDir ("keeper"));
  configurations.add ("mail", "backup-dbus", "com.test.mail",
                      "<location type=\"dir\" category=\"emails\">$HOME/mail</location>");

  QList<DBusServiceInfo> services = servicesFor (SF_CATEGORY_CONTACTS);
  ASSERT_EQ (services.size (), 2) << "only D-Bus applications of the selected categories";
  EXPECT_EQ (services[0].appName, "first");
  EXPECT_EQ (services[0].service, "com.test.first");
  EXPECT_EQ (services[0].path, "/first");
  EXPECT_EQ (services[1].appName, "second");
  EXPECT_EQ (caller.getAppNames (BackupMethodPermanentFiles, SF_CATEGORY_CONTACTS),
             QStringList ({ "keeper" }));

  QSignalSpy spy (&caller, &DBusMethodCaller::finished);
  QList<QVariant> arguments
      = { QStringList ({ "contacts", "settings" }), QString ("solano"), QStringList () };
  ASSERT_TRUE (caller.callDBusMethod ("restore", services, arguments, 0));
  ASSERT_TRUE (spy.wait (10000));
  syncWith ("com.test.first", "/first");
  syncWith ("com.test.second", "/second");
  ASSERT_EQ (spy.size (), 1);
  EXPECT_EQ (spy[0][0].value<DBusCallStatus> (), DBusCallFinished);
  EXPECT_EQ (spy[0][1].toString (), "restore");
  EXPECT_EQ (caller.getFailedApps (), QStringList ({ "second" }));
  EXPECT_TRUE (caller.getErrorApps ().isEmpty ());

  for (DBusMock *mock : { &first, &second })
    {
      std::vector<DBusMock::Call> calls = mock->calls ();
      ASSERT_EQ (calls.size (), 1u);
      EXPECT_EQ (calls[0].args, "(['contacts', 'settings'], 'solano', [])");
    }

  caller.writeFailedAppNamesToErrorLog ();
  EXPECT_EQ (
      read_file (QDir::homePath ().toStdString () + "/.safehold/backup-restore-script-error-log"),
      ",& second");
}

TEST_F (DBusMethodCallerTest, MissingAndSilentApplicationsFailWithoutStoppingTheBatch)
{
  DBusMock silent (G_BUS_TYPE_SESSION, "com.test.silent", "/silent", clientInterface);
  DBusMock quiet (G_BUS_TYPE_SESSION, "com.test.quiet", "/quiet", clientInterface);
  silent.add_method ("backupStarts", "", "y", "time.sleep(3)\nret = dbus.Byte(0)");
  quiet.add_method ("backupStarts", "", "", "");
  configurations.add ("gone", "backup-dbus", "com.test.gone", contactsDir ("gone"));
  configurations.add ("silent", "backup-dbus", "com.test.silent", contactsDir ("silent"));
  configurations.add ("quiet", "backup-dbus", "com.test.quiet", contactsDir ("quiet"));

  QSignalSpy spy (&caller, &DBusMethodCaller::finished);
  ASSERT_TRUE (caller.callDBusMethod ("backupStarts", servicesFor (SF_CATEGORY_CONTACTS), {}, 300));
  ASSERT_TRUE (spy.wait (10000));
  EXPECT_EQ (spy.size (), 1);
  EXPECT_EQ (spy[0][0].value<DBusCallStatus> (), DBusCallFinished);
  EXPECT_EQ (caller.getErrorApps (), QStringList ({ "gone", "silent" }));
  EXPECT_EQ (caller.getFailedApps (), QStringList ({ "gone", "silent" }))
      << "an empty reply is a success";
}

TEST_F (DBusMethodCallerTest, ReceiverOfFinishedStartsTheNextBatchAtOnce)
{
  DBusMock client (G_BUS_TYPE_SESSION, "com.test.client", "/client", clientInterface);
  client.add_method ("backupStarts", "", "y", "ret = dbus.Byte(0)");
  client.add_method ("backupFinished", "", "y", "ret = dbus.Byte(7)");
  configurations.add ("client", "backup-dbus", "com.test.client", contactsDir ("client"));
  QList<DBusServiceInfo> services = servicesFor (SF_CATEGORY_CONTACTS);

  QStringList methods;
  bool secondStarted = false;
  QObject::connect (&caller, &DBusMethodCaller::finished, [&] (DBusCallStatus, QString methodName) {
    methods << methodName;
    if (methodName == "backupStarts")
      secondStarted = caller.callDBusMethod ("backupFinished", services, {}, 0);
  });
  QSignalSpy spy (&caller, &DBusMethodCaller::finished);
  ASSERT_TRUE (caller.callDBusMethod ("backupStarts", services, {}, 0));
  ASSERT_TRUE (spy.wait (10000));
  EXPECT_TRUE (secondStarted);
  ASSERT_TRUE (spy.size () == 2 || spy.wait (10000));
  EXPECT_EQ (methods, QStringList ({ "backupStarts", "backupFinished" }));
  EXPECT_EQ (caller.getFailedApps (), QStringList ({ "client" }));
}

TEST_F (DBusMethodCallerTest, CancelAlwaysFinishesAndLateRepliesChangeNothing)
{
  QSignalSpy spy (&caller, &DBusMethodCaller::finished);
  caller.cancelRequests ();
  ASSERT_EQ (spy.size (), 1) << "cancel with nothing outstanding";
  EXPECT_EQ (spy[0][0].value<DBusCallStatus> (), DBusCallCancelled);

  DBusMock client (G_BUS_TYPE_SESSION, "com.test.slow", "/slow", clientInterface);
  client.add_method ("restoreStarts", "", "y", "time.sleep(1)\nret = dbus.Byte(5)");
  client.add_method ("restoreFinished", "", "y", "ret = dbus.Byte(0)");
  configurations.add ("slow", "backup-dbus", "com.test.slow", contactsDir ("slow"));
  QList<DBusServiceInfo> services = servicesFor (SF_CATEGORY_CONTACTS);

  ASSERT_TRUE (caller.callDBusMethod ("restoreStarts", services, {}, 0));
  EXPECT_FALSE (caller.callDBusMethod ("restoreFinished", services, {}, 0))
      << "a second batch is refused while calls are outstanding";
  caller.cancelRequests ();
  ASSERT_EQ (spy.size (), 2);
  EXPECT_EQ (spy[1][0].value<DBusCallStatus> (), DBusCallCancelled);

  /* The mock answers in order: the failing late reply reaches us before this batch's answer. */
  ASSERT_TRUE (caller.callDBusMethod ("restoreFinished", services, {}, 0));
  ASSERT_TRUE (spy.wait (10000));
  syncWith ("com.test.slow", "/slow");
  ASSERT_EQ (spy.size (), 3);
  EXPECT_EQ (spy[2][0].value<DBusCallStatus> (), DBusCallFinished);
  EXPECT_TRUE (caller.getFailedApps ().isEmpty ());
}

TEST_F (DBusMethodCallerTest, RefusedBatchLeavesTheOutstandingOneItsNameAndResults)
{
  DBusMock client (G_BUS_TYPE_SESSION, "com.test.busy", "/busy", clientInterface);
  client.add_method ("backupStarts", "", "y", "time.sleep(1)\nret = dbus.Byte(4)");
  configurations.add ("busy", "backup-dbus", "com.test.busy", contactsDir ("busy"));
  QList<DBusServiceInfo> services = servicesFor (SF_CATEGORY_CONTACTS);

  QSignalSpy spy (&caller, &DBusMethodCaller::finished);
  ASSERT_TRUE (caller.callDBusMethod ("backupStarts", services, {}, 0));
  EXPECT_FALSE (caller.callDBusMethod ("backupFinished", services, {}, 0));
  ASSERT_TRUE (spy.wait (10000));
  ASSERT_EQ (spy.size (), 1);
  EXPECT_EQ (spy[0][0].value<DBusCallStatus> (), DBusCallFinished);
  EXPECT_EQ (spy[0][1].toString (), "backupStarts");
  EXPECT_EQ (caller.getFailedApps (), QStringList ({ "busy" }));
  EXPECT_EQ (client.calls ().size (), 1u) << "the refused batch called nobody";
}
