#include "program-fixture.h"

#include "sf-category.h"

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

/* gdbus, a client written by nobody here, against the session bus; its printed answer. */
QByteArray
gdbus (const QStringList &arguments)
{
  QProcess gdbus;
  gdbus.start ("gdbus", arguments);
  gdbus.waitForFinished ();
  return gdbus.readAllStandardOutput ().trimmed ();
}

QByteArray
launch (const QString &command)
{
  return gdbus ({ "call", "--session", "--dest", "com.korvel.backup", "--object-path",
                  "/com/korvel/backup/app", "--method", "com.korvel.backup.launch", command });
}

QByteArray
suiteRequest (const QString &operation, const QString &command, qint64 size)
{
  return gdbus ({ "call", "--session", "--dest", "com.korvel.backup.plugin", "--object-path",
                  "/com/korvel/backup", "--method", "com.korvel.backup.plugin.request", "--",
                  operation, command, QString::number (size) });
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
  EXPECT_EQ (first->exitCode (), 0) << first->readAllStandardError ().constData ();
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

namespace
{
int
suite (const QStringList &arguments, QByteArray *output)
{
  QProcess process;
  process.setProcessChannelMode (QProcess::MergedChannels);
  process.start (SAFEHOLD_SUITE, arguments);
  if (!process.waitForFinished (120000))
    {
      process.kill ();
      process.waitForFinished ();
      return -1;
    }
  *output = process.readAll ();
  return process.exitStatus () == QProcess::NormalExit ? process.exitCode () : -1;
}
} // namespace

TEST_F (SafeholdProgramTest, DesktopSuiteBacksUpWipesAndRestoresThroughTheRunningProgram)
{
  const QString contacts = home + "/.contacts/backup/contacts.vcf";
  const QString system = home + "/.config/settings/system.db";
  const QString accounts = home + "/.config/settings/accounts.db";
  writeFile (contacts, "BEGIN:VCARD\nFN:Ada\nEND:VCARD\n");
  writeFile (system, QByteArray ("system settings\0\1\2", 18));
  writeFile (accounts, "accounts");
  QTemporaryDir transfers;
  QByteArray output;
  // The address book imports its export area when told to restore.
  DBusMock addressBook (G_BUS_TYPE_SESSION, "com.korvel.contacts", "/com/korvel/contacts",
                        "com.korvel.backupclient");
  addressBook.add_method ("backup", "as", "", "");
  addressBook.add_method ("restore", "assas", "",
                          "import os, shutil; home = os.environ['HOME']; "
                          "shutil.copy(home + '/.contacts/backup/contacts.vcf', "
                          "home + '/imported.vcf')");

  QProcess *backup = start ({ "--service-mode" });
  ASSERT_TRUE (waitForTrace ("safehold::main::registerObject: /com/korvel/backup: true"));
  ASSERT_EQ (suite ({ "backup", "contacts", "settings", "-o", transfers.path () }, &output), 0)
      << output.constData ();
  // The program closes after a backup exchange.
  ASSERT_TRUE (backup->waitForFinished (waitMs));
  EXPECT_EQ (backup->exitCode (), 0) << backup->readAllStandardError ().constData ();
  // A backup packs the export area and removes it; the settings databases stay in place.
  EXPECT_FALSE (QFileInfo::exists (contacts));
  EXPECT_EQ (LumoSuiteTransfer::categoriesOf (transfers.path () + "/contacts.transfer", nullptr),
             int (SF_CATEGORY_CONTACTS));

  writeFile (system, "changed since");
  QFile::remove (accounts);

  QProcess *restore = start ({ "--service-mode" });
  ASSERT_TRUE (waitForTrace ("safehold::main::registerObject: /com/korvel/backup: true", 2));
  ASSERT_EQ (suite ({ "restore", transfers.path () + "/contacts.transfer",
                      transfers.path () + "/settings.transfer" },
                    &output),
             0)
      << output.constData ();
  EXPECT_EQ (addressBook.wait_for_calls ("restore", 1), 1u);
  EXPECT_EQ (readFile (home + "/imported.vcf"), QByteArray ("BEGIN:VCARD\nFN:Ada\nEND:VCARD\n"));
  EXPECT_EQ (readFile (system), QByteArray ("system settings\0\1\2", 18));
  EXPECT_EQ (readFile (accounts), QByteArray ("accounts"));
  EXPECT_EQ (vigil->wait_for_calls ("req_reboot", 1), 1u);
  sendShutdown ();
  EXPECT_TRUE (restore->waitForFinished (waitMs));
}

TEST_F (SafeholdProgramTest, GdbusSeesTheSuiteInterfaceAndACloseOneByteOffStartsNothing)
{
  start ({ "--service-mode" });
  ASSERT_TRUE (waitForTrace ("safehold::main::registerObject: /com/korvel/backup: true"));
  QByteArray xml = gdbus ({ "introspect", "--session", "--xml", "--dest",
                            "com.korvel.backup.plugin", "--object-path", "/com/korvel/backup" });
  EXPECT_TRUE (xml.contains ("  <interface name=\"com.korvel.backup.plugin\">\n"
                             "    <method name=\"request\">\n"
                             "      <arg name=\"operation\" type=\"s\" direction=\"in\"/>\n"
                             "      <arg name=\"command\" type=\"s\" direction=\"in\"/>\n"
                             "      <arg name=\"fileSize\" type=\"i\" direction=\"in\"/>\n"
                             "      <arg name=\"result\" type=\"i\" direction=\"out\"/>\n"
                             "      <arg name=\"filePath\" type=\"s\" direction=\"out\"/>\n"
                             "    </method>\n"
                             "    <method name=\"cancel\"/>\n"
                             "  </interface>\n"))
      << xml.constData ();

  const QByteArray tmp = (home + "/MyDocs/.tmp").toUtf8 ();
  EXPECT_EQ (suiteRequest ("open", "200", 0), "(0, '" + tmp + "')");
  EXPECT_EQ (suiteRequest ("open", "2", 0), "(0, '" + tmp + "/calendar')");
  QTemporaryDir sources;
  writeFile (sources.filePath ("meta"), "meta");
  writeFile (sources.filePath ("organizer"), "organizer");
  QString error;
  ASSERT_TRUE (LumoSuiteTransfer::merge (
      { { 0, sources.filePath ("meta") }, { 8, sources.filePath ("organizer") } },
      home + "/MyDocs/.tmp/calendar", &error))
      << error.toStdString ();
  qint64 size = QFileInfo (home + "/MyDocs/.tmp/calendar").size ();
  EXPECT_EQ (suiteRequest ("close", "2", size + 1), "(0, '" + tmp + "/calendar')");
  // A start would follow the reply within milliseconds; a second is plenty to see none.
  QThread::msleep (1000);
  EXPECT_FALSE (trace ().contains ("Inside BackupService::startRestore"));
  EXPECT_EQ (suiteRequest ("close", "2", size), QByteArray ("(0, '')"));
  EXPECT_TRUE (waitForTrace ("Inside BackupService::startRestore"));
}
