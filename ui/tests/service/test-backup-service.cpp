#include "BackupIfAdaptor.h"
#include "BackupMainView.h"
#include "BackupService.h"
#include "LumoSuiteTransfer.h"
#include "suite-interface.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingReply>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

namespace
{
const QString tmpDir = QDir::homePath () + "/MyDocs/.tmp";

QApplication *
application ()
{
  static int argc = 1;
  static char name[] = "test-backup-service";
  static char *argv[] = { name, nullptr };
  static QApplication *app
      = (qputenv ("QT_QPA_PLATFORM", "offscreen"), new QApplication (argc, argv));
  return app;
}

/* Runs the event loop until condition holds; gives up after a generous while so that a fault
 * fails the test instead of hanging it. */
template <typename Condition>
bool
spinUntil (Condition condition, int timeoutMs = 20000)
{
  QDeadlineTimer deadline (timeoutMs);
  while (!condition () && !deadline.hasExpired ())
    QCoreApplication::processEvents (QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
  return condition ();
}

using Reply = QDBusPendingReply<int, QString>;

/* "gdbus call" of request, a client written elsewhere; its printed answer. */
QString
gdbusRequest (const QString &operation, const QString &command, int size)
{
  QProcess gdbus;
  gdbus.start ("gdbus",
               { "call", "--session", "--dest", "com.korvel.backup.plugin", "--object-path",
                 "/com/korvel/backup", "--method", "com.korvel.backup.plugin.request", "--",
                 operation, command, QString::number (size) });
  spinUntil ([&] { return gdbus.state () == QProcess::NotRunning; });
  return QString::fromUtf8 (gdbus.readAllStandardOutput ()).trimmed ();
}

/* The desktop suite: a connection of its own, calls sent without waiting. */
class Suite
{
public:
  Suite () : bus_ (QDBusConnection::connectToBus (QDBusConnection::SessionBus, "suite"))
  {
  }
  ~Suite ()
  {
    QDBusConnection::disconnectFromBus ("suite");
  }

  Reply send (const QString &operation, const QString &command, int size = 0)
  {
    QDBusMessage call = QDBusMessage::createMethodCall (
        "com.korvel.backup.plugin", "/com/korvel/backup", "com.korvel.backup.plugin", "request");
    call << operation << command << size;
    return bus_.asyncCall (call, 60000);
  }

  /* Sends a request and waits for its answer. */
  Reply request (const QString &operation, const QString &command, int size = 0)
  {
    Reply reply = send (operation, command, size);
    EXPECT_TRUE (spinUntil ([&] { return reply.isFinished (); }));
    return reply;
  }

  /* Every request sent before has been handled, and what it queued has run, once this returns:
   * the service answers in order. */
  void sync ()
  {
    request ("open", "999");
    QCoreApplication::processEvents ();
  }

  int cancel ()
  {
    QDBusMessage call = QDBusMessage::createMethodCall (
        "com.korvel.backup.plugin", "/com/korvel/backup", "com.korvel.backup.plugin", "cancel");
    QDBusPendingReply<> reply = bus_.asyncCall (call);
    spinUntil ([&] { return reply.isFinished (); });
    return reply.isError () ? 1 : 0;
  }

  QString introspect ()
  {
    QDBusMessage call
        = QDBusMessage::createMethodCall ("com.korvel.backup.plugin", "/com/korvel/backup",
                                          "org.freedesktop.DBus.Introspectable", "Introspect");
    QDBusPendingReply<QString> reply = bus_.asyncCall (call);
    spinUntil ([&] { return reply.isFinished (); });
    return reply.value ();
  }

private:
  QDBusConnection bus_;
};

class BackupServiceTest : public ::testing::Test
{
protected:
  void SetUp () override
  {
    application ();
    view.backupDirectory = QDir::homePath () + "/MyDocs/.backups/LUMO Suite Backup";
    service = std::make_unique<BackupService> (&view);
    new BackupIfAdaptor (service.get ());
    QDBusConnection bus = QDBusConnection::sessionBus ();
    ASSERT_TRUE (bus.registerService ("com.korvel.backup.plugin"));
    ASSERT_TRUE (
        bus.registerObject ("/com/korvel/backup", service.get (), QDBusConnection::ExportAdaptors));
  }

  void TearDown () override
  {
    QDBusConnection bus = QDBusConnection::sessionBus ();
    bus.unregisterObject ("/com/korvel/backup");
    bus.unregisterService ("com.korvel.backup.plugin");
    service.reset ();
    QDir (QDir::homePath () + "/MyDocs").removeRecursively ();
  }

  /* Writes what the suite sends for a category: a transfer file at path. */
  int writeTransferFile (const QString &path, const QMap<int, QByteArray> &files)
  {
    QTemporaryDir sources;
    QMap<int, QString> paths;
    for (auto file = files.cbegin (); file != files.cend (); ++file)
      {
        QString source = sources.filePath (QString::number (file.key ()));
        QFile out (source);
        EXPECT_TRUE (out.open (QIODevice::WriteOnly));
        out.write (file.value ());
        out.close ();
        paths.insert (file.key (), source);
      }
    QString error;
    EXPECT_TRUE (LumoSuiteTransfer::merge (paths, path, &error)) << error.toStdString ();
    return QFile (path).size ();
  }

  BackupMainView view;
  std::unique_ptr<BackupService> service;
  Suite suite;
};
} // namespace

TEST_F (BackupServiceTest, IntrospectionDescribesTheSuiteInterface)
{
  EXPECT_TRUE (suite.introspect ().contains (suiteInterfaceXml))
      << suite.introspect ().toStdString ();
}

TEST_F (BackupServiceTest, BackupExchangeAnswersWithTheTransferFileOnceTheBackupEnds)
{
  Reply start = suite.request ("open", "100");
  EXPECT_EQ (start.argumentAt<0> (), 0);
  EXPECT_EQ (start.argumentAt<1> (), tmpDir);
  EXPECT_TRUE (view.serviceMode);
  EXPECT_TRUE (QFileInfo (tmpDir).isDir ());

  Reply contacts = suite.send ("open", "1");
  Reply second = suite.request ("open", "5");
  EXPECT_EQ (second.argumentAt<0> (), 2) << "a second backup is refused";
  EXPECT_EQ (second.argumentAt<1> (), "") << "no file will come for it";
  EXPECT_FALSE (contacts.isFinished ()) << "the answer waits for the backup";
  EXPECT_EQ (view.backups, QList<int> ({ 1 }));
  EXPECT_TRUE (service->isServingRequests ());

  Q_EMIT view.signalLumoSuiteOperationFinished (100);
  ASSERT_TRUE (spinUntil ([&] { return contacts.isFinished (); }));
  EXPECT_EQ (contacts.argumentAt<0> (), 0);
  EXPECT_EQ (contacts.argumentAt<1> (), tmpDir + "/contacts");
  EXPECT_EQ (LumoSuiteTransfer::categoriesOf (tmpDir + "/contacts", nullptr), 1);
  EXPECT_FALSE (QFile::exists (view.backupDirectory)) << "the suite backup is removed";

  Reply close = suite.request ("close", "1");
  EXPECT_EQ (close.argumentAt<1> (), "");
  EXPECT_FALSE (QFile::exists (tmpDir + "/contacts"));

  Reply settings = suite.send ("open", "5");
  ASSERT_TRUE (spinUntil ([&] { return view.backups.size () == 2; }));
  Q_EMIT view.signalLumoSuiteOperationFinished (102);
  ASSERT_TRUE (spinUntil ([&] { return settings.isFinished (); }));
  EXPECT_EQ (settings.argumentAt<0> (), 2);
  EXPECT_FALSE (QFile::exists (tmpDir + "/settings"));

  suite.request ("close", "101");
  EXPECT_TRUE (spinUntil ([&] { return view.closes == 1; }));
  EXPECT_EQ (view.reboots, 0);
}

TEST_F (BackupServiceTest, ContentCommandsAfterARefusedStartFail)
{
  view.busy = true;
  EXPECT_EQ (suite.request ("open", "100").argumentAt<0> (), 2);
  EXPECT_FALSE (view.serviceMode);
  EXPECT_EQ (suite.request ("open", "abc").argumentAt<0> (), 2);
  EXPECT_EQ (suite.request ("open", "1").argumentAt<0> (), 2);
  EXPECT_TRUE (view.backups.isEmpty ());
}

/* Three categories in one exchange: each restore starts only after its own file arrived whole. */
TEST_F (BackupServiceTest, RestoreExchangeRestoresEachFileOnlyOnceItArrived)
{
  suite.request ("open", "200");

  Reply contacts = suite.request ("open", "1");
  EXPECT_EQ (contacts.argumentAt<1> (), tmpDir + "/contacts");
  int size = writeTransferFile (tmpDir + "/contacts", { { 0, "meta 1" }, { 1, "contacts" } });
  Reply wrongSize = suite.request ("close", "1", size - 1);
  EXPECT_EQ (wrongSize.argumentAt<0> (), 0);
  EXPECT_EQ (wrongSize.argumentAt<1> (), tmpDir + "/contacts");
  suite.sync ();
  EXPECT_TRUE (view.restores.isEmpty ());

  EXPECT_EQ (suite.request ("close", "1", size).argumentAt<1> (), "");
  ASSERT_TRUE (spinUntil ([&] { return view.restores.size () == 1; }));
  EXPECT_EQ (view.restores.last (), 1);
  EXPECT_EQ (view.restoredFiles.last ().value ("contacts.zip"), "contacts");

  Reply messages = suite.send ("open", "3");
  suite.sync ();
  EXPECT_FALSE (messages.isFinished ()) << "the next file waits for the running restore";
  Q_EMIT view.signalLumoSuiteOperationFinished (200);
  ASSERT_TRUE (spinUntil ([&] { return messages.isFinished (); }));
  EXPECT_EQ (messages.argumentAt<1> (), tmpDir + "/messages");
  suite.sync ();
  EXPECT_EQ (view.restores.size (), 1) << "nothing to restore before the file has arrived";

  size = writeTransferFile (tmpDir + "/messages",
                            { { 0, "meta 2" }, { 2, "emails" }, { 4, "messaging" } });
  suite.request ("close", "3", size);
  ASSERT_TRUE (spinUntil ([&] { return view.restores.size () == 2; }));
  EXPECT_EQ (view.restores.last (), 6);
  EXPECT_EQ (view.restoredFiles.last ().value ("emails.zip"), "emails");
  EXPECT_EQ (view.restoredFiles.last ().value ("messaging.zip"), "messaging");

  Reply settings = suite.send ("open", "5");
  Q_EMIT view.signalLumoSuiteOperationFinished (204);
  ASSERT_TRUE (spinUntil ([&] { return settings.isFinished (); }));
  size = writeTransferFile (tmpDir + "/settings", { { 0, "meta 3" }, { 32, "settings" } });
  suite.request ("close", "5", size);
  ASSERT_TRUE (spinUntil ([&] { return view.restores.size () == 3; }));
  EXPECT_EQ (view.restoredFiles.last ().value ("settings.zip"), "settings");
  Reply stop = suite.send ("open", "201");
  suite.sync ();
  EXPECT_FALSE (stop.isFinished ()) << "the stop waits for the last restore";

  Q_EMIT view.signalLumoSuiteOperationFinished (200);
  ASSERT_TRUE (spinUntil ([&] { return stop.isFinished (); }));
  EXPECT_EQ (stop.argumentAt<0> (), 0);
  EXPECT_EQ (stop.argumentAt<1> (), tmpDir);
  EXPECT_TRUE (spinUntil ([&] { return view.reboots == 1; }));
  EXPECT_EQ (view.closes, 0);
}

TEST_F (BackupServiceTest, MalformedTransferFileIsNotRestoredAndTheStopReportsIt)
{
  suite.request ("open", "200");
  suite.request ("open", "1");
  QFile file (tmpDir + "/contacts");
  ASSERT_TRUE (file.open (QIODevice::WriteOnly));
  file.write (QByteArray ("\x04", 1) + QByteArray (40, 'x'));
  file.close ();
  suite.request ("close", "1", 41);

  Reply stop = suite.request ("open", "201");
  EXPECT_EQ (stop.argumentAt<0> (), 2);
  EXPECT_TRUE (view.restores.isEmpty ());
  EXPECT_FALSE (QFile::exists (view.backupDirectory + "/backup.metadata"));
}

TEST_F (BackupServiceTest, StopWithAFileThatNeverArrivedWholeReportsFailure)
{
  suite.request ("open", "200");
  suite.request ("open", "5");
  int size = writeTransferFile (tmpDir + "/settings", { { 0, "meta" }, { 32, "settings" } });
  suite.request ("close", "5", size + 1);
  Reply stop = suite.request ("open", "201");
  EXPECT_EQ (stop.argumentAt<0> (), 2);
  EXPECT_TRUE (view.restores.isEmpty ());
}

TEST_F (BackupServiceTest, CancelCancelsTheSuiteBackupAndClosesOnceItEnded)
{
  EXPECT_EQ (suite.cancel (), 0);
  suite.request ("close", "101");
  suite.sync ();
  EXPECT_EQ (view.cancels, 0) << "no exchange: nothing of the user's is cancelled";
  EXPECT_EQ (view.closes, 0);

  suite.request ("open", "100");
  Reply pending = suite.send ("open", "2");
  ASSERT_TRUE (spinUntil ([&] { return view.backups.size () == 1; }));
  suite.cancel ();
  suite.sync ();
  EXPECT_EQ (view.cancels, 1);
  EXPECT_EQ (view.closes, 0) << "the backup winds down first";
  EXPECT_EQ (suite.request ("open", "100").argumentAt<0> (), 2) << "no new exchange meanwhile";
  Q_EMIT view.signalLumoSuiteOperationFinished (101);
  ASSERT_TRUE (spinUntil ([&] { return pending.isFinished (); }));
  EXPECT_EQ (pending.argumentAt<0> (), 2);
  EXPECT_EQ (pending.argumentAt<1> (), "");
  EXPECT_TRUE (spinUntil ([&] { return view.closes == 1; }));
  EXPECT_FALSE (QFile::exists (view.backupDirectory));
}

/* gdbus makes each call over a connection of its own. */
TEST_F (BackupServiceTest, GdbusCloseOneByteShortStartsNothingAndAbcIsRefused)
{
  view.outcomes = { 200 };
  EXPECT_EQ (gdbusRequest ("open", "200", 0), "(0, '" + tmpDir + "')");
  EXPECT_EQ (gdbusRequest ("open", "2", 0), "(0, '" + tmpDir + "/calendar')");
  int size = writeTransferFile (tmpDir + "/calendar", { { 0, "meta" }, { 8, "organizer" } });
  EXPECT_EQ (gdbusRequest ("close", "2", size + 1), "(0, '" + tmpDir + "/calendar')");
  suite.sync ();
  EXPECT_TRUE (view.restores.isEmpty ());
  EXPECT_EQ (gdbusRequest ("close", "2", size), "(0, '')");
  EXPECT_TRUE (spinUntil ([&] { return view.restores.size () == 1; }));
  EXPECT_EQ (gdbusRequest ("open", "201", 0), "(0, '" + tmpDir + "')");
  EXPECT_EQ (view.restoredFiles.last ().value ("organizer.zip"), "organizer");

  view.busy = true;
  gdbusRequest ("open", "100", 0);
  EXPECT_EQ (gdbusRequest ("open", "abc", 0), "(2, '')");
}

TEST_F (BackupServiceTest, StopActsOnlyOnAnAcceptedRestoreExchangeAndOnlyOnce)
{
  Reply lone = suite.request ("open", "201");
  EXPECT_EQ (lone.argumentAt<0> (), 2);
  EXPECT_EQ (suite.request ("open", "1").argumentAt<0> (), 2) << "no start command";
  EXPECT_EQ (suite.request ("open", "1").argumentAt<1> (), "");

  view.busy = true; // the user's own backup
  Reply refused = suite.request ("open", "200");
  EXPECT_EQ (refused.argumentAt<0> (), 2);
  EXPECT_EQ (refused.argumentAt<1> (), "");
  EXPECT_EQ (suite.request ("open", "201").argumentAt<0> (), 2);
  EXPECT_EQ (suite.request ("close", "101").argumentAt<0> (), 2);
  suite.sync ();
  view.busy = false;

  suite.request ("open", "200");
  suite.request ("open", "5");
  int size = writeTransferFile (tmpDir + "/settings", { { 0, "meta" }, { 32, "settings" } });
  suite.request ("close", "5", size);
  ASSERT_TRUE (spinUntil ([&] { return view.restores.size () == 1; }));
  Reply stop = suite.send ("open", "201");
  Reply second = suite.request ("open", "201");
  EXPECT_EQ (second.argumentAt<0> (), 2) << "a second stop is refused at once";
  EXPECT_FALSE (stop.isFinished ());
  Q_EMIT view.signalLumoSuiteOperationFinished (204);
  ASSERT_TRUE (spinUntil ([&] { return stop.isFinished (); }));
  EXPECT_EQ (stop.argumentAt<0> (), 0);
  EXPECT_TRUE (spinUntil ([&] { return view.reboots == 1; }));
  EXPECT_EQ (view.closes, 0);
}

/* An exchange that restores nothing needing a reboot, or fails, ends the program instead. */
TEST_F (BackupServiceTest, StopRebootsOnlyAfterSettingsWereRestoredAndReportsEveryFailure)
{
  suite.request ("open", "200");
  Reply empty = suite.request ("open", "201");
  EXPECT_EQ (empty.argumentAt<0> (), 0);
  ASSERT_TRUE (spinUntil ([&] { return view.closes == 1; }));

  view.restoreFails = true;
  suite.request ("open", "200");
  suite.request ("open", "5");
  int size = writeTransferFile (tmpDir + "/settings", { { 0, "meta" }, { 32, "settings" } });
  suite.request ("close", "5", size);
  ASSERT_TRUE (spinUntil ([&] { return view.restores.size () == 1; }));
  Q_EMIT view.signalLumoSuiteOperationFinished (200);
  Reply stop = suite.request ("open", "201");
  EXPECT_EQ (stop.argumentAt<0> (), 2) << "a category was not restored";
  ASSERT_TRUE (spinUntil ([&] { return view.closes == 2; }));
  EXPECT_EQ (view.reboots, 0);
}

TEST_F (BackupServiceTest, OpenWaitsOnlyForARunningRestoreAndUnclosedItemsFailAtTheStop)
{
  suite.request ("open", "200");
  Reply contacts = suite.request ("open", "1");
  EXPECT_EQ (contacts.argumentAt<1> (), tmpDir + "/contacts");
  writeTransferFile (tmpDir + "/contacts", { { 0, "meta 1" }, { 1, "contacts" } });
  Reply settings = suite.request ("open", "5");
  EXPECT_TRUE (settings.isFinished ());
  EXPECT_EQ (settings.argumentAt<1> (), tmpDir + "/settings");
  int size = writeTransferFile (tmpDir + "/settings", { { 0, "meta 5" }, { 32, "settings" } });
  suite.request ("close", "5", size);
  ASSERT_TRUE (spinUntil ([&] { return view.restores.size () == 1; }));
  EXPECT_EQ (view.restores.last (), 32);

  Reply messages = suite.send ("open", "3");
  suite.sync ();
  EXPECT_FALSE (messages.isFinished ()) << "an earlier item is being restored";
  Q_EMIT view.signalLumoSuiteOperationFinished (200);
  ASSERT_TRUE (spinUntil ([&] { return messages.isFinished (); }));
  EXPECT_EQ (messages.argumentAt<0> (), 0);

  Reply stop = suite.request ("open", "201");
  EXPECT_EQ (stop.argumentAt<0> (), 2) << "contacts and messages never arrived";
  EXPECT_EQ (view.restores.size (), 1);
  EXPECT_FALSE (QFile::exists (tmpDir + "/contacts"));
}

TEST_F (BackupServiceTest, RefusedStartChangesNothingOfARunningExchange)
{
  suite.request ("open", "100");
  Reply contacts = suite.send ("open", "1");
  ASSERT_TRUE (spinUntil ([&] { return view.backups.size () == 1; }));
  view.busy = true;
  EXPECT_EQ (suite.request ("open", "200").argumentAt<0> (), 2);
  view.busy = false;
  EXPECT_EQ (suite.request ("open", "100").argumentAt<0> (), 2);
  Q_EMIT view.signalLumoSuiteOperationFinished (100);
  ASSERT_TRUE (spinUntil ([&] { return contacts.isFinished (); }));
  EXPECT_EQ (contacts.argumentAt<0> (), 0);
  EXPECT_EQ (LumoSuiteTransfer::categoriesOf (tmpDir + "/contacts", nullptr), 1);
  suite.request ("close", "1");
  suite.request ("close", "101");
  ASSERT_TRUE (spinUntil ([&] { return view.closes == 1; }));

  suite.request ("open", "200");
  suite.request ("open", "1");
  int size = writeTransferFile (tmpDir + "/contacts", { { 0, "meta" }, { 1, "contacts" } });
  suite.request ("close", "1", size);
  ASSERT_TRUE (spinUntil ([&] { return view.restores.size () == 1; }));
  Reply settings = suite.send ("open", "5");
  EXPECT_EQ (suite.request ("open", "200").argumentAt<0> (), 2);
  Q_EMIT view.signalLumoSuiteOperationFinished (200);
  ASSERT_TRUE (spinUntil ([&] { return settings.isFinished (); }));
  EXPECT_EQ (settings.argumentAt<0> (), 0) << "the queue was kept";
  EXPECT_EQ (view.restoredFiles.last ().value ("contacts.zip"), "contacts");
  EXPECT_EQ (suite.request ("open", "201").argumentAt<0> (), 2) << "settings never came";
}

TEST_F (BackupServiceTest, AbandonedExchangeEndsAndFreesTheService)
{
  qputenv ("SF_SUITE_IDLE_TIMEOUT_MS", "1000");
  suite.request ("open", "100");
  Reply contacts = suite.send ("open", "1");
  ASSERT_TRUE (spinUntil ([&] { return view.backups.size () == 1; }));
  spinUntil ([] { return false; }, 2000); // twice the bound: ends only while the suite is silent
  EXPECT_TRUE (service->isServingRequests ()) << "the phone is working, not the suite";
  Q_EMIT view.signalLumoSuiteOperationFinished (100);
  ASSERT_TRUE (spinUntil ([&] { return contacts.isFinished (); }));
  EXPECT_TRUE (QFile::exists (tmpDir + "/contacts"));
  ASSERT_TRUE (spinUntil ([&] { return !service->isServingRequests (); }));
  EXPECT_FALSE (QFile::exists (tmpDir + "/contacts")) << "the suite never took it";

  EXPECT_EQ (suite.request ("open", "200").argumentAt<0> (), 0);
  suite.request ("open", "5");
  writeTransferFile (tmpDir + "/settings", { { 0, "meta" }, { 32, "settings" } });
  ASSERT_TRUE (spinUntil ([&] { return !service->isServingRequests (); }));
  EXPECT_FALSE (QFile::exists (tmpDir + "/settings"));
  EXPECT_EQ (suite.request ("open", "201").argumentAt<0> (), 2);
  EXPECT_EQ (suite.request ("open", "200").argumentAt<0> (), 0);
  EXPECT_EQ (view.reboots + view.closes, 0);
  qunsetenv ("SF_SUITE_IDLE_TIMEOUT_MS");
}

/* The working paths lie on memory the PC writes over USB. */
TEST_F (BackupServiceTest, WhateverStandsAtAWorkingPathIsReplacedNeverFollowed)
{
  QTemporaryDir outside;
  ASSERT_TRUE (QDir ().mkpath (tmpDir + "/contacts/deep"));
  QFile (tmpDir + "/contacts/deep/file").open (QIODevice::WriteOnly);
  QFile (outside.filePath ("victim")).open (QIODevice::WriteOnly);
  ASSERT_TRUE (QFile::link (outside.filePath ("victim"), tmpDir + "/settings"));
  view.outcomes = { 100 };

  suite.request ("open", "100");
  Reply contacts = suite.request ("open", "1");
  ASSERT_TRUE (spinUntil ([&] { return contacts.isFinished (); }));
  EXPECT_EQ (contacts.argumentAt<0> (), 0);
  EXPECT_EQ (LumoSuiteTransfer::categoriesOf (tmpDir + "/contacts", nullptr), 1);
  suite.request ("close", "1");
  suite.request ("close", "101");

  ASSERT_TRUE (spinUntil ([&] { return view.closes == 1; }));
  suite.request ("open", "200");
  EXPECT_EQ (suite.request ("open", "5").argumentAt<0> (), 0);
  EXPECT_FALSE (QFileInfo (tmpDir + "/settings").isSymLink ());
  EXPECT_TRUE (QFile::exists (outside.filePath ("victim")));
}

TEST_F (BackupServiceTest, EachRestoreSeesOnlyItsOwnItemsFiles)
{
  ASSERT_TRUE (QDir ().mkpath (view.backupDirectory));
  QFile (view.backupDirectory + "/settings.zip").open (QIODevice::WriteOnly);
  suite.request ("open", "200");
  suite.request ("open", "1");
  int size = writeTransferFile (tmpDir + "/contacts", { { 0, "meta" }, { 1, "contacts" } });
  suite.request ("close", "1", size);
  ASSERT_TRUE (spinUntil ([&] { return view.restores.size () == 1; }));
  EXPECT_EQ (view.restoredFiles.last ().keys (),
             QStringList ({ "backup.metadata", "contacts.zip" }))
      << "an archive left by an earlier exchange is not restored";
}
