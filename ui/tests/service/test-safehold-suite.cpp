#include "dbus-mock.h"

#include "BackupIfAdaptor.h"
#include "BackupMainView.h"
#include "BackupService.h"
#include "LumoSuiteTransfer.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

namespace
{
QApplication *
application ()
{
  static int argc = 1;
  static char name[] = "test-safehold-suite";
  static char *argv[] = { name, nullptr };
  static QApplication *app
      = (qputenv ("QT_QPA_PLATFORM", "offscreen"), new QApplication (argc, argv));
  return app;
}

struct SuiteRun
{
  int status;
  QString output;
};

struct Streams
{
  int status;
  QString out;
  QString err;
};

/* Runs safehold-suite for an answer it gives without the phone: its two streams apart. */
Streams
suiteAlone (const QStringList &arguments)
{
  QProcess process;
  process.start (SAFEHOLD_SUITE, arguments);
  if (!process.waitForFinished (60000))
    {
      process.kill ();
      process.waitForFinished ();
      return { -1, QString (), "timed out" };
    }
  return { process.exitStatus () == QProcess::NormalExit ? process.exitCode () : -1,
           QString::fromUtf8 (process.readAllStandardOutput ()),
           QString::fromUtf8 (process.readAllStandardError ()) };
}

/* Runs safehold-suite while this process serves it. */
SuiteRun
suite (const QStringList &arguments)
{
  QProcess process;
  process.setProcessChannelMode (QProcess::MergedChannels);
  process.start (SAFEHOLD_SUITE, arguments);
  QDeadlineTimer deadline (60000);
  while (process.state () != QProcess::NotRunning && !deadline.hasExpired ())
    QCoreApplication::processEvents (QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
  if (process.state () != QProcess::NotRunning)
    {
      process.kill ();
      process.waitForFinished ();
      return { -1, "timed out" };
    }
  return { process.exitStatus () == QProcess::NormalExit ? process.exitCode () : -1,
           QString::fromUtf8 (process.readAll ()) };
}

class SafeholdSuiteTest : public ::testing::Test
{
protected:
  void SetUp () override
  {
    application ();
    view.backupDirectory = QDir::homePath () + "/MyDocs/.backups/LUMO Suite Backup";
  }

  void TearDown () override
  {
    QDBusConnection bus = QDBusConnection::sessionBus ();
    bus.unregisterObject ("/com/korvel/backup");
    bus.unregisterService ("com.korvel.backup.plugin");
    service.reset ();
    QDir (QDir::homePath () + "/MyDocs").removeRecursively ();
  }

  void serve ()
  {
    service = std::make_unique<BackupService> (&view);
    new BackupIfAdaptor (service.get ());
    QDBusConnection bus = QDBusConnection::sessionBus ();
    ASSERT_TRUE (bus.registerService ("com.korvel.backup.plugin"));
    ASSERT_TRUE (
        bus.registerObject ("/com/korvel/backup", service.get (), QDBusConnection::ExportAdaptors));
  }

  BackupMainView view;
  std::unique_ptr<BackupService> service;
  QTemporaryDir out;
};
} // namespace

TEST_F (SafeholdSuiteTest, BacksUpIntoTransferFilesAndRestoresThem)
{
  serve ();
  view.outcomes = { 100, 100 };
  SuiteRun backup = suite ({ "backup", "contacts", "messages", "-o", out.filePath ("phone") });
  ASSERT_EQ (backup.status, 0) << backup.output.toStdString ();
  EXPECT_EQ (view.backups, QList<int> ({ 1, 6 }));
  EXPECT_EQ (LumoSuiteTransfer::categoriesOf (out.filePath ("phone/contacts.transfer"), nullptr),
             1);
  EXPECT_EQ (LumoSuiteTransfer::categoriesOf (out.filePath ("phone/messages.transfer"), nullptr),
             6);
  EXPECT_TRUE (QDir (QDir::homePath () + "/MyDocs/.tmp").isEmpty ())
      << "each transfer file is removed on the phone once read";
  QCoreApplication::processEvents ();
  EXPECT_EQ (view.closes, 1) << "the program closes after a backup exchange";

  view.outcomes = { 200, 200 };
  SuiteRun restore = suite ({ "restore", out.filePath ("phone/contacts.transfer"),
                              out.filePath ("phone/messages.transfer") });
  ASSERT_EQ (restore.status, 0) << restore.output.toStdString ();
  EXPECT_EQ (view.restores, QList<int> ({ 1, 6 }));
  ASSERT_EQ (view.restoredFiles.size (), 2);
  EXPECT_EQ (view.restoredFiles[0].value ("contacts.zip"), "archive 1");
  EXPECT_EQ (view.restoredFiles[1].value ("emails.zip"), "archive 2");
  EXPECT_EQ (view.restoredFiles[1].value ("messaging.zip"), "archive 4");
  EXPECT_TRUE (restore.output.contains ("restarts")) << restore.output.toStdString ();
}

TEST_F (SafeholdSuiteTest, RefusalsAndFailuresAreReportedWithoutTouchingThePhone)
{
  SuiteRun unknown = suite ({ "backup", "photos", "-o", out.filePath ("x") });
  EXPECT_EQ (unknown.status, 2);
  EXPECT_TRUE (unknown.output.contains ("unknown content \"photos\""))
      << unknown.output.toStdString ();

  SuiteRun absent = suite ({ "backup", "contacts", "-o", out.filePath ("x") });
  EXPECT_EQ (absent.status, 1);
  EXPECT_TRUE (absent.output.contains ("did not answer")) << absent.output.toStdString ();

  serve ();
  QFile malformed (out.filePath ("bad.transfer"));
  ASSERT_TRUE (malformed.open (QIODevice::WriteOnly));
  malformed.write (QByteArray ("\x04", 1) + QByteArray (30, 'x'));
  malformed.close ();
  SuiteRun refused = suite ({ "restore", out.filePath ("bad.transfer") });
  EXPECT_EQ (refused.status, 1);
  EXPECT_TRUE (refused.output.contains ("file count 4 is not 2 or 3"))
      << refused.output.toStdString ();
  EXPECT_FALSE (view.serviceMode) << "no exchange was started";

  view.outcomes = { 103 };
  SuiteRun failed = suite ({ "backup", "settings", "-o", out.filePath ("settings.transfer") });
  EXPECT_EQ (failed.status, 1);
  EXPECT_TRUE (failed.output.contains ("could not back up settings"))
      << failed.output.toStdString ();
  EXPECT_FALSE (QFile::exists (out.filePath ("settings.transfer")));

  // A transfer file the suite cannot store stays on the phone: closing would remove it there.
  view.outcomes = { 100 };
  SuiteRun unstored = suite ({ "backup", "contacts", "-o", out.filePath ("missing/x.transfer") });
  EXPECT_EQ (unstored.status, 1);
  EXPECT_TRUE (unstored.output.contains ("the phone keeps its copy"))
      << unstored.output.toStdString ();
  EXPECT_EQ (LumoSuiteTransfer::categoriesOf (QDir::homePath () + "/MyDocs/.tmp/contacts", nullptr),
             1);
}

namespace
{
/* A phone played by a mock: answer is the Python expression of request's reply, with args at
 * hand. */
std::unique_ptr<DBusMock>
mockPhone (const std::string &answer)
{
  auto phone = std::make_unique<DBusMock> (G_BUS_TYPE_SESSION, "com.korvel.backup.plugin",
                                           "/com/korvel/backup", "com.korvel.backup.plugin");
  phone->add_method ("request", "ssi", "is", "ret = " + answer);
  return phone;
}

bool
sentCommand (DBusMock &phone, const std::string &command)
{
  for (const DBusMock::Call &call : phone.calls ())
    if (call.args.find ("'" + command + "'") != std::string::npos)
      return true;
  return false;
}
} // namespace

TEST_F (SafeholdSuiteTest, RefusingOrStrayPhoneGetsNoStopAndNothingOutsideTheUsersFolders)
{
  QTemporaryDir sources;
  QFile meta (sources.filePath ("meta")), contacts (sources.filePath ("contacts"));
  ASSERT_TRUE (meta.open (QIODevice::WriteOnly) && contacts.open (QIODevice::WriteOnly));
  meta.write ("meta");
  contacts.write ("contacts");
  meta.close ();
  contacts.close ();
  const QString transfer = out.filePath ("contacts.transfer");
  ASSERT_TRUE (LumoSuiteTransfer::merge ({ { 0, meta.fileName () }, { 1, contacts.fileName () } },
                                         transfer, nullptr));
  {
    std::unique_ptr<DBusMock> busy = mockPhone ("(2, '')");
    SuiteRun restore = suite ({ "restore", transfer });
    EXPECT_EQ (restore.status, 1);
    EXPECT_TRUE (restore.output.contains ("refused the restore")) << restore.output.toStdString ();
    SuiteRun backup = suite ({ "backup", "contacts", "-o", out.filePath ("x") });
    EXPECT_EQ (backup.status, 1);
    EXPECT_TRUE (backup.output.contains ("refused the backup")) << backup.output.toStdString ();
    EXPECT_FALSE (sentCommand (*busy, "201"));
    EXPECT_FALSE (sentCommand (*busy, "101"));
    EXPECT_FALSE (sentCommand (*busy, "1"));
  }

  QTemporaryDir outside;
  const std::string tmp = (QDir::homePath () + "/MyDocs/.tmp").toStdString ();
  ASSERT_TRUE (QDir ().mkpath (QString::fromStdString (tmp)));
  for (const std::string &stray :
       { outside.filePath ("contacts").toStdString (), tmp + "/../x", tmp + "/", tmp })
    {
      std::unique_ptr<DBusMock> phone
          = mockPhone ("(0, '" + tmp + "') if args[1] in ('200', '201') else (0, '" + stray
                       + "') if args[0] == 'open' else (0, '')");
      SuiteRun restore = suite ({ "restore", transfer });
      EXPECT_EQ (restore.status, 1) << stray;
      EXPECT_TRUE (restore.output.contains ("outside its transfer folder"))
          << restore.output.toStdString ();
      EXPECT_TRUE (QDir (outside.path ()).isEmpty ()) << stray;
      EXPECT_FALSE (QFile::exists (QDir::homePath () + "/MyDocs/x")) << stray;
      EXPECT_TRUE (QDir (QString::fromStdString (tmp)).isEmpty ()) << stray;
      EXPECT_EQ (phone->calls ().size (), 3u)
          << "start, open and stop; no close for a file not sent";
    }
}

TEST_F (SafeholdSuiteTest, WaitForAPhoneThatNeverAnswersIsGivenUp)
{
  const std::string tmp = (QDir::homePath () + "/MyDocs/.tmp").toStdString ();
  ASSERT_TRUE (QDir ().mkpath (QString::fromStdString (tmp)));
  std::unique_ptr<DBusMock> phone
      = mockPhone ("(0, '" + tmp + "') if args[1] == '100' else (time.sleep(3), (0, ''))[1]");
  qputenv ("SF_SUITE_WAIT_MS", "1000");
  SuiteRun backup = suite ({ "backup", "contacts", "-o", out.filePath ("x") });
  qunsetenv ("SF_SUITE_WAIT_MS");
  EXPECT_EQ (backup.status, 1);
  EXPECT_TRUE (backup.output.contains ("did not answer within 1 s"))
      << backup.output.toStdString ();
}

/* Help and version on the standard output with success; a wrong command line on the standard
 * error, said once, with status 2. */
TEST (SafeholdSuiteCommandLine, HelpVersionAndUsageErrorsGoWhereTheyBelong)
{
  application ();
  for (const char *help : { "--help", "-h" })
    {
      Streams run = suiteAlone ({ help });
      EXPECT_EQ (run.status, 0) << help;
      EXPECT_TRUE (run.out.startsWith ("usage: safehold-suite backup")) << run.out.toStdString ();
      EXPECT_EQ (run.err, "");
    }
  Streams version = suiteAlone ({ "--version" });
  EXPECT_EQ (version.status, 0);
  EXPECT_EQ (version.out, "safehold-suite " SAFEHOLD_VERSION "\n");
  EXPECT_EQ (version.err, "");

  Streams nothing = suiteAlone ({});
  EXPECT_EQ (nothing.status, 2);
  EXPECT_EQ (nothing.out, "");
  EXPECT_TRUE (nothing.err.startsWith ("usage: safehold-suite")) << nothing.err.toStdString ();

  const QList<QPair<QStringList, QString>> wrong = {
    { { "copy", "contacts" }, "unknown command \"copy\"" },
    { { "backup", "photos", "-o", "x" }, "unknown content \"photos\"" },
    { { "backup", "contacts" }, "backup needs -o OUT" },
    { { "backup", "-o", "x" }, "backup needs at least one CONTENT" },
    { { "backup", "contacts", "-o" }, "-o needs OUT" },
    { { "restore" }, "restore needs at least one FILE" },
    { { "restore", "a.transfer", "-o", "x" }, "-o is an option of backup" },
    { { "backup", "contacts", "-o", "x", "-t", "y" }, "-t is an option of restore" },
  };
  for (const auto &[arguments, problem] : wrong)
    {
      Streams run = suiteAlone (arguments);
      EXPECT_EQ (run.status, 2) << arguments.join (' ').toStdString ();
      EXPECT_EQ (run.out, "") << arguments.join (' ').toStdString ();
      EXPECT_EQ (run.err, "safehold-suite: " + problem + "\nTry \"safehold-suite --help\".\n")
          << run.err.toStdString ();
    }
}
