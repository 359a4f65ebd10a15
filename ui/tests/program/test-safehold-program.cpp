#include "program-fixture.h"

#include "BackupLastStateInfo.h"
#include "LumoSuiteTransfer.h"

#include <QCoreApplication>

namespace
{
/* Qt D-Bus and the lock helpers need an application object in this process. */
QCoreApplication *
application ()
{
  static int argc = 1;
  static char name[] = "test-safehold-program";
  static char *argv[] = { name, nullptr };
  static QCoreApplication *app = new QCoreApplication (argc, argv);
  return app;
}

QByteArray
launch (const QString &command)
{
  QProcess gdbus;
  gdbus.start ("gdbus",
               { "call", "--session", "--dest", "com.korvel.backup", "--object-path",
                 "/com/korvel/backup/app", "--method", "com.korvel.backup.launch", command });
  gdbus.waitForFinished ();
  return gdbus.readAllStandardOutput ().trimmed ();
}

bool
applicationLockIsFree ()
{
  BackupLastStateInfo info;
  if (!info.getApplicationLock ())
    return false;
  info.releaseApplicationLock ();
  return true;
}

void
writeFile (const QString &path, const QByteArray &content)
{
  QDir ().mkpath (QFileInfo (path).path ());
  QFile file (path);
  ASSERT_TRUE (file.open (QIODevice::WriteOnly | QIODevice::Truncate));
  file.write (content);
}

QByteArray
readFile (const QString &path)
{
  QFile file (path);
  return file.open (QIODevice::ReadOnly) ? file.readAll () : QByteArray ("<missing>");
}
} // namespace

class SafeholdProgramTest : public ProgramFixture
{
protected:
  void SetUp () override
  {
    application ();
    ProgramFixture::SetUp ();
  }
};

TEST_F (SafeholdProgramTest, VersionAndFinishRestoreWithoutApplicationsEndAtOnceAndFreeTheLock)
{
  QByteArray errors;
  EXPECT_EQ (run ({ "--version" }, &errors), 0);
  EXPECT_EQ (errors, QByteArray ("safehold 1.06-38\n"));
  EXPECT_TRUE (applicationLockIsFree ());

  EXPECT_EQ (run ({ "-v" }, &errors), 0);
  EXPECT_EQ (errors, QByteArray ("safehold 1.06-38\n"));

  EXPECT_EQ (run ({ "--finish-restore" }), 0);
  EXPECT_FALSE (trace ().contains ("Normal start."));
  EXPECT_TRUE (applicationLockIsFree ());
}

TEST_F (SafeholdProgramTest, SecondStartAndLaunchRequestsReachTheRunningProgram)
{
  QProcess *first = start ();
  ASSERT_TRUE (waitForTrace ("Normal start."));
  ASSERT_TRUE (waitForTrace ("DBus listener interface registered"));
  EXPECT_FALSE (applicationLockIsFree ());

  EXPECT_EQ (run ({}), 0);
  EXPECT_TRUE (waitForTrace ("****** Tried to relaunch the application"));
  EXPECT_TRUE (waitForTrace ("Tried to launch application again, closing all subviews"));

  EXPECT_EQ (launch ("opennewbackup"), QByteArray ("(byte 0x00,)"));
  EXPECT_TRUE (waitForTrace ("launchToNewbackupView()"));
  // The sheet is open: a second request finds it there.
  EXPECT_EQ (launch ("opennewbackup"), QByteArray ("(byte 0x00,)"));
  EXPECT_TRUE (waitForTrace ("New backup view is already visible"));
  EXPECT_EQ (launch ("anything"), QByteArray ("(byte 0x00,)"));
  EXPECT_TRUE (waitForTrace ("launchMainView()"));

  sendShutdown ();
  ASSERT_TRUE (first->waitForFinished (waitMs));
  EXPECT_EQ (first->exitStatus (), QProcess::NormalExit);
  EXPECT_EQ (first->exitCode (), 0);
  EXPECT_TRUE (applicationLockIsFree ());
}

TEST_F (SafeholdProgramTest, InterruptedBackupIsRemovedAndReportedOnce)
{
  const QString partial = home + "/MyDocs/.backups/Backup 3";
  writeFile (partial + "/contacts.zip", "half an archive");
  {
    BackupLastStateInfo info;
    info.lockBackupInfo ("Backup 3");
  }

  QProcess *first = start ();
  ASSERT_TRUE (waitForTrace ("Normal start."));
  EXPECT_FALSE (QFileInfo::exists (partial));
  EXPECT_EQ (notifications->wait_for_calls ("Notify", 1), 1u);
  std::vector<DBusMock::Call> calls = notifications->calls ();
  ASSERT_EQ (calls.size (), 1u);
  // English on a machine with only the C locale.
  EXPECT_NE (calls[0].args.find ("nterrupted"), std::string::npos) << calls[0].args;
  sendShutdown ();
  ASSERT_TRUE (first->waitForFinished (waitMs));

  notifications->clear_calls ();
  QProcess *second = start ();
  ASSERT_TRUE (waitForTrace ("Normal start.", 2));
  sendShutdown ();
  ASSERT_TRUE (second->waitForFinished (waitMs));
  EXPECT_TRUE (notifications->calls ().empty ());
}
