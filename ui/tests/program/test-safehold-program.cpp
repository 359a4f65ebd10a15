#include "program-fixture.h"

#include "sf-backup-info.h"
#include "sf-category.h"
#include "sf-utils.h"

#include "BackupLastStateInfo.h"
#include "LumoSuiteTransfer.h"
#include "../service/suite-interface.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QDirIterator>

#include <random>
#include <sys/stat.h>

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

/* The address book on the session bus: told to back up, it has its dump in place already; told
 * the restore is done, it runs importCode (Python, with os, shutil and home at hand). */
std::unique_ptr<DBusMock>
addressBookImporting (const std::string &importCode)
{
  std::unique_ptr<DBusMock> mock = addressBookMock ();
  mock->add_method ("backup", "as", "", "");
  addressBookImports (*mock, importCode);
  return mock;
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

TEST_F (SafeholdProgramTest, OptionsAreAnsweredWithoutADisplayAndBesideARunningInstance)
{
  QProcessEnvironment headless = environment ();
  for (const char *name : { "QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY" })
    headless.remove (QLatin1String (name));
  auto answer = [&] (const QString &option, QByteArray *out, QByteArray *errors) {
    QProcess process;
    process.setProcessEnvironment (headless);
    process.start (SAFEHOLD_PROGRAM, { option });
    if (!process.waitForFinished (waitMs) || process.exitStatus () != QProcess::NormalExit)
      return -1;
    *out = process.readAllStandardOutput ();
    *errors = process.readAllStandardError ();
    return process.exitCode ();
  };
  QByteArray out, errors;
  for (int round = 0; round < 2; round++)
    {
      EXPECT_EQ (answer ("--version", &out, &errors), 0) << round;
      EXPECT_EQ (errors, QByteArray ("safehold 1.06-38\n")) << round;
      EXPECT_EQ (answer ("--help", &out, &errors), 0) << round;
      EXPECT_TRUE (out.contains ("--finish-restore")) << out.constData ();
      if (round == 0)
        {
          start ();
          ASSERT_TRUE (waitForTrace ("Normal start."));
        }
    }
  EXPECT_FALSE (trace ().contains ("Tried to relaunch")) << "the running instance is left alone";
}

TEST_F (SafeholdProgramTest, SecondStartLeavesTheServiceModeWindowHidden)
{
  start ({ "--service-mode" });
  ASSERT_TRUE (waitForTrace ("DBus listener interface registered"));
  EXPECT_EQ (run ({}), 0);
  ASSERT_TRUE (waitForTrace ("In service mode, the window stays hidden"));
  EXPECT_FALSE (trace ().contains ("Raising the application window"));
}

TEST_F (SafeholdProgramTest, FinishRestoreInstanceRefusesLaunchesAndServesNoSuite)
{
  ASSERT_TRUE (sf_utils_write_last_restore (NULL, SF_CATEGORY_APPLICATIONS, 10));
  QProcess *program = start ({ "--finish-restore" });
  ASSERT_TRUE (waitForTrace ("DBus listener interface registered"));
  EXPECT_EQ (launch ("opennewbackup"), QByteArray ("(byte 0x01,)"));
  EXPECT_EQ (launch ("anything"), QByteArray ("(byte 0x01,)"));
  EXPECT_EQ (suiteRequest ("open", "100", 0), QByteArray ()) << "no such service";
  sendShutdown ();
  ASSERT_TRUE (program->waitForFinished (waitMs));
  EXPECT_EQ (program->exitStatus (), QProcess::NormalExit);
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

/* Pipes planted at every lock and marker path: the program neither waits on one at start-up nor
 * when a backup takes its locks, and puts regular files in their place. */
TEST_F (SafeholdProgramTest, PipesAtLockAndMarkerPathsAreReplacedAndABackupRuns)
{
  BackupLastStateInfo names;
  const QStringList pipes
      = { names.getAppLockFileName (), names.getMSMLockFileName (), names.getBackupLockFileName (),
          names.getRestoreLockFileName (), names.getKeptExportAreasFileName () };
  for (const QString &path : pipes)
    {
      QDir ().mkpath (QFileInfo (path).path ());
      ASSERT_EQ (mkfifo (QFile::encodeName (path).constData (), 0644), 0) << qPrintable (path);
    }
  writeFile (home + "/.contacts/backup/contacts.vcf", "BEGIN:VCARD\nFN:Ada\nEND:VCARD\n");
  std::unique_ptr<DBusMock> addressBook = addressBookImporting ("");

  QProcess *program = start ({ "--service-mode" });
  ASSERT_TRUE (waitForTrace ("safehold::main::registerService: com.korvel.backup: true"));
  ASSERT_TRUE (waitForTrace ("safehold::main::registerObject: /com/korvel/backup: true"));
  EXPECT_TRUE (QFileInfo (pipes[0]).isFile ()) << "the application lock is a regular file";
  EXPECT_FALSE (applicationLockIsFree ()) << "and held";

  QTemporaryDir transfers;
  QByteArray output;
  const QString transfer = transfers.filePath ("contacts.transfer");
  ASSERT_EQ (suite ({ "backup", "contacts", "-o", transfer }, &output), 0) << output.constData ();
  ASSERT_TRUE (program->waitForFinished (waitMs));
  EXPECT_EQ (program->exitCode (), 0);
  EXPECT_EQ (LumoSuiteTransfer::categoriesOf (transfer, nullptr), int (SF_CATEGORY_CONTACTS));
  EXPECT_TRUE (trace ().contains ("File lock obtained to disable mass storage mode"));
  for (const QString &path : { pipes[0], pipes[1] })
    EXPECT_TRUE (trace ().contains ("Replacing a non-regular file at \"" + path + "\""))
        << qPrintable (path);
  for (const QString &path : pipes)
    {
      struct stat status;
      EXPECT_TRUE (lstat (QFile::encodeName (path).constData (), &status) != 0
                   || S_ISREG (status.st_mode))
          << qPrintable (path) << " is still no regular file";
    }
}

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
  std::unique_ptr<DBusMock> addressBook
      = addressBookImporting ("shutil.copy(home + '/.contacts/backup/contacts.vcf', "
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
  EXPECT_EQ (addressBook->wait_for_calls ("restore", 1), 1u);
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
  EXPECT_TRUE (xml.contains (suiteInterfaceXml)) << xml.constData ();

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

TEST_F (SafeholdProgramTest, InterruptedBackupWrittenWholeIsKeptAndAnOlderOneIsNot)
{
  // Killed after the backup was described: the export area may already be emptied into it.
  const QString whole = home + "/MyDocs/.backups/Whole";
  writeFile (whole + "/contacts.zip", "the archive");
  BackupLastStateInfo ().lockBackupInfo ("Whole", home + "/MyDocs/.backups");
  {
    g_autoptr (GFile) dir = g_file_new_for_path (whole.toUtf8 ().constData ());
    g_autoptr (SfBackupInfo) info
        = sf_backup_info_new (dir, gint32 (QDateTime::currentSecsSinceEpoch () + 1), FALSE, NULL,
                              "1.0", "", SF_BACKUP_INFO_FORMAT, SF_CATEGORY_CONTACTS);
    g_autoptr (GError) error = sf_backup_info_write_metadata (info);
    ASSERT_EQ (error, nullptr) << error->message;
  }
  QProcess *first = start ();
  ASSERT_TRUE (waitForTrace ("Normal start."));
  sendShutdown ();
  ASSERT_TRUE (first->waitForFinished (waitMs));
  EXPECT_TRUE (QFileInfo::exists (whole + "/contacts.zip"));
  EXPECT_TRUE (notifications->calls ().empty ());

  // A same-named backup described before the interrupted one began is the old one being
  // replaced: what lies there now is half new.
  BackupLastStateInfo ().lockBackupInfo ("Whole", home + "/MyDocs/.backups");
  {
    g_autoptr (GFile) dir = g_file_new_for_path (whole.toUtf8 ().constData ());
    g_autoptr (SfBackupInfo) info
        = sf_backup_info_new (dir, gint32 (QDateTime::currentSecsSinceEpoch () - 3600), FALSE, NULL,
                              "1.0", "", SF_BACKUP_INFO_FORMAT, SF_CATEGORY_CONTACTS);
    g_autoptr (GError) error = sf_backup_info_write_metadata (info);
    ASSERT_EQ (error, nullptr) << error->message;
  }
  QProcess *second = start ();
  ASSERT_TRUE (waitForTrace ("Normal start.", 2));
  EXPECT_EQ (notifications->wait_for_calls ("Notify", 1), 1u);
  sendShutdown ();
  ASSERT_TRUE (second->waitForFinished (waitMs));
  EXPECT_FALSE (QFileInfo::exists (whole));
}

namespace
{
/* The export area of the address book: files of incompressible bytes, enough of them that
 * packing takes a while. */
QMap<QString, QByteArray>
exportArea (const QString &home, int count, std::mt19937 &random)
{
  QMap<QString, QByteArray> files;
  for (int index = 0; index < count; index++)
    {
      QByteArray content (16384, '\0');
      for (char &byte : content)
        byte = char (random ());
      files.insert (home + QString ("/.contacts/backup/card-%1.vcf").arg (index), content);
    }
  return files;
}

void
writeFiles (const QMap<QString, QByteArray> &files)
{
  for (auto file = files.cbegin (); file != files.cend (); ++file)
    writeFile (file.key (), file.value ());
}

/* Left-over temporary files of a restore anywhere below dir. */
QStringList
restoreLeftovers (const QString &dir)
{
  QStringList found;
  QDirIterator entries (dir, { ".sf-restore-*" }, QDir::Files | QDir::Hidden,
                        QDirIterator::Subdirectories);
  while (entries.hasNext ())
    found << entries.next ();
  return found;
}
} // namespace

/* The program killed at seeded random moments of a desktop-suite backup and restore: the next
 * start reports an interrupted operation once, keeps every source file or a whole backup of it,
 * and leaves each restored file as it was, as backed up or removed, never half written. */
TEST_F (SafeholdProgramTest, KilledBackupsAndRestoresAreReportedOnceAndLoseNothing)
{
  const unsigned seed = unsigned (QDateTime::currentMSecsSinceEpoch ());
  SCOPED_TRACE (testing::Message () << "seed " << seed);
  std::mt19937 random (seed);
  const QString card = home + "/MyDocs/.backups/LUMO Suite Backup";
  std::unique_ptr<DBusMock> addressBook
      = addressBookImporting ("shutil.rmtree(home + '/imported', ignore_errors=True); "
                              "shutil.copytree(home + '/.contacts/backup', home + '/imported')");
  const QMap<QString, QByteArray> sources = exportArea (home, 200, random);
  QTemporaryDir transfers;

  auto startServing = [&] (const QProcessEnvironment &extra = {}) {
    const QString ready = "safehold::main::registerObject: /com/korvel/backup: true";
    int before = trace ().count (ready);
    QProcess *program = start ({ "--service-mode" }, extra);
    EXPECT_TRUE (waitForTrace (ready, before + 1));
    return program;
  };
  /* Kills the program and the suite at a random moment after the trace shows text once more. */
  auto killAfter
      = [&] (QProcess *program, QProcess *client, const QString &text, int before, int withinMs) {
          EXPECT_TRUE (waitForTrace (text, before + 1));
          QThread::msleep (std::uniform_int_distribution<int> (0, withinMs) (random));
          program->kill ();
          program->waitForFinished ();
          client->kill ();
          client->waitForFinished ();
        };
  /* The next start: it reports the interruption once, or nothing when the operation had ended
   * or left a whole backup; the start after it reports nothing. */
  auto nextStarts = [&] (bool interrupted) {
    for (bool report : { interrupted, false })
      {
        notifications->clear_calls ();
        int before = trace ().count ("Normal start.");
        QProcess *next = start ();
        EXPECT_TRUE (waitForTrace ("Normal start.", before + 1));
        if (report)
          {
            EXPECT_EQ (notifications->wait_for_calls ("Notify", 1), 1u);
          }
        sendShutdown ();
        EXPECT_TRUE (next->waitForFinished (waitMs));
        EXPECT_EQ (notifications->calls ().size (), report ? 1u : 0u);
      }
  };

  // A whole exchange gives the transfer files the restores read: the export area, and the
  // settings databases, which a restore replaces in place.
  QMap<QString, QByteArray> settings;
  for (const char *name : { "/.config/settings/system.db", "/.config/settings/accounts.db" })
    settings.insert (home + name, exportArea (home, 1, random).first ());
  writeFiles (sources);
  writeFiles (settings);
  QProcess *program = startServing ();
  QProcess exchange;
  exchange.setProcessChannelMode (QProcess::MergedChannels);
  exchange.start (SAFEHOLD_SUITE, { "backup", "contacts", "settings", "-o", transfers.path () });
  ASSERT_TRUE (waitForTrace ("Backup process initiation success"));
  QElapsedTimer clock;
  clock.start ();
  ASSERT_TRUE (waitForTrace ("Backup DONE"));
  // The kills below land anywhere in a backup as long as this one, or a little after it.
  const int backupMs = int (clock.elapsed () * 5 / 4);
  ASSERT_TRUE (exchange.waitForFinished (waitMs));
  ASSERT_EQ (exchange.exitCode (), 0) << exchange.readAll ().constData ();
  ASSERT_TRUE (program->waitForFinished (waitMs));
  QByteArray output;
  // Settings first: their two files are restored within the kills' span, the 200 cards after.
  const QStringList transferFiles
      = { transfers.path () + "/settings.transfer", transfers.path () + "/contacts.transfer" };

  int cutBackups = 0, cutRestores = 0, partlyRestored = 0;
  for (int kill = 0; kill < 4; kill++)
    {
      writeFiles (sources);
      QDir (card).removeRecursively ();
      program = startServing ();
      QProcess client;
      int before = trace ().count ("Backup process initiation success");
      QTemporaryDir received;
      client.start (SAFEHOLD_SUITE,
                    { "backup", "contacts", "-o", received.filePath ("contacts.transfer") });
      killAfter (program, &client, "Backup process initiation success", before, backupMs);
      bool exchanged
          = LumoSuiteTransfer::categoriesOf (received.filePath ("contacts.transfer"), nullptr)
            == SF_CATEGORY_CONTACTS;
      QString name;
      bool marked = BackupLastStateInfo ().isBackupOpInterrupted (name);
      bool described = QFileInfo::exists (card + "/backup.metadata");
      cutBackups += marked && !described;
      nextStarts (marked && !described);

      g_autoptr (GFile) dir = g_file_new_for_path (card.toUtf8 ().constData ());
      SfBackupInfo *kept = sf_backup_info_new_from_directory (dir);
      EXPECT_EQ (kept != nullptr, described) << "a half backup survived the next start";
      // The suite's own backup leaves the card once the suite has its transfer file.
      for (auto file = sources.cbegin (); file != sources.cend (); ++file)
        if (!QFileInfo::exists (file.key ()))
          EXPECT_TRUE (kept != nullptr || exchanged)
              << file.key ().toStdString () << " is gone and neither a backup nor the suite has it";
        else
          EXPECT_EQ (readFile (file.key ()), file.value ()) << file.key ().toStdString ();
      if (kept != nullptr)
        sf_backup_info_unref (kept);
    }

  QProcessEnvironment slow;
  slow.insert ("SF_SLOW", "1");
  QMap<QString, QByteArray> restored = sources;
  restored.insert (settings);
  for (int kill = 0; kill < 4; kill++)
    {
      QMap<QString, QByteArray> old;
      for (auto file = restored.cbegin (); file != restored.cend (); ++file)
        old.insert (file.key (), "old " + file.key ().toUtf8 ());
      writeFiles (old);
      program = startServing (slow);
      QProcess client;
      int before = trace ().count ("sending restore request to backend completed");
      client.start (SAFEHOLD_SUITE, QStringList{ "restore" } + transferFiles);
      killAfter (program, &client, "sending restore request to backend completed", before, 3000);
      for (auto file = restored.cbegin (); file != restored.cend (); ++file)
        {
          QByteArray now = readFile (file.key ());
          // A restore removes the category's current files once its archive checked out, then
          // puts the backup's back; the application imports them when told the restore is done.
          EXPECT_TRUE (now == file.value () || now == old.value (file.key ()) || now == "<missing>")
              << file.key ().toStdString () << " is half written";
          partlyRestored += now == file.value () && sources.contains (file.key ());
        }
      bool marked = BackupLastStateInfo ().isRestoreOpInterrupted ();
      cutRestores += marked;
      nextStarts (marked);
    }
  printf ("%d of 4 killed backups (within %d ms) and %d of 4 killed restores were cut short; "
          "%d cards were back when the restores were killed\n",
          cutBackups, backupMs, cutRestores, partlyRestored);

  // A whole restore afterwards puts every file back and leaves no temporary file anywhere.
  program = startServing ();
  ASSERT_EQ (suite (QStringList{ "restore" } + transferFiles, &output), 0) << output.constData ();
  EXPECT_GE (addressBook->wait_for_calls ("restore", 1), 1u);
  for (auto file = restored.cbegin (); file != restored.cend (); ++file)
    {
      QString path = file.key ();
      if (sources.contains (path))
        path.replace ("/.contacts/backup/", "/imported/");
      EXPECT_EQ (readFile (path), file.value ()) << path.toStdString ();
    }
  EXPECT_EQ (restoreLeftovers (home).join (", ").toStdString (), "");
  sendShutdown ();
  EXPECT_TRUE (program->waitForFinished (waitMs));
}
