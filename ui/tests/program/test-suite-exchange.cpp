#include "program-fixture.h"
#include "test-data.h"
#include "tmpfs-mount.h"

#include "sf-backup-info.h"

#include "LumoSuiteTransfer.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>

namespace
{
QCoreApplication *
application ()
{
  static int argc = 1;
  static char name[] = "test-suite-exchange";
  static char *argv[] = { name, nullptr };
  static QCoreApplication *app = new QCoreApplication (argc, argv);
  return app;
}

/* gdbus, a client written elsewhere, making each call over a connection of its own. */
QProcess *
gdbusStart (const QStringList &call)
{
  auto *gdbus = new QProcess;
  gdbus->start ("gdbus", QStringList{ "call", "--session", "--dest", "com.korvel.backup.plugin",
                                      "--object-path", "/com/korvel/backup", "--method" }
                             + call);
  return gdbus;
}

QByteArray
gdbus (const QStringList &call)
{
  std::unique_ptr<QProcess> gdbus (gdbusStart (call));
  gdbus->waitForFinished (60000);
  return gdbus->readAllStandardOutput ().trimmed ();
}

QByteArray
request (const QString &operation, const QString &command, qint64 size = 0)
{
  return gdbus (
      { "com.korvel.backup.plugin.request", "--", operation, command, QString::number (size) });
}

/* Every folder below the backups location that holds metadata: what a list would show. */
QStringList
listedBackups (const QString &backups)
{
  QStringList found;
  QDirIterator entries (backups, { "backup.metadata" }, QDir::Files | QDir::Hidden,
                        QDirIterator::Subdirectories);
  while (entries.hasNext ())
    found << entries.next ();
  return found;
}
} // namespace

class SuiteExchangeTest : public ProgramFixture
{
protected:
  void SetUp () override
  {
    application ();
    ProgramFixture::SetUp ();
    tmp = home + "/MyDocs/.tmp";
    backups = home + "/MyDocs/.backups";
  }

  void TearDown () override
  {
    ProgramFixture::TearDown ();
    /* The second memory a test adds. */
    QDir (home + "/Card2").removeRecursively ();
  }

  QProcess *serve (const QProcessEnvironment &extra = {})
  {
    const QString ready = "safehold::main::registerObject: /com/korvel/backup: true";
    int before = trace ().count (ready);
    QProcess *program = start ({ "--service-mode" }, extra);
    EXPECT_TRUE (waitForTrace (ready, before + 1));
    return program;
  }

  /* The contacts export area: count cards of 16 KiB. */
  QMap<QString, QByteArray> cards (int count)
  {
    QMap<QString, QByteArray> files;
    for (int index = 0; index < count; index++)
      files.insert (home + QString ("/.contacts/backup/card-%1.vcf").arg (index),
                    QByteArray (16384, char ('a' + index % 26)));
    return files;
  }

  /* Sends a contacts transfer file the way the suite does, up to its "close". */
  void sendContacts (const QString &transfer)
  {
    EXPECT_EQ (request ("open", "200"), "(0, '" + tmp.toUtf8 () + "')");
    EXPECT_EQ (request ("open", "1"), "(0, '" + tmp.toUtf8 () + "/contacts')");
    ASSERT_TRUE (QFile::copy (transfer, tmp + "/contacts"));
    EXPECT_EQ (request ("close", "1", QFileInfo (transfer).size ()), "(0, '')");
  }

  QString tmp;
  QString backups;
};

TEST_F (SuiteExchangeTest, LoneStopRefusedAndAnEmptyExchangeClosesWithoutReboot)
{
  QProcess *program = serve ();
  EXPECT_EQ (request ("open", "201"), "(2, '')");
  EXPECT_EQ (request ("open", "1"), "(2, '')");
  gdbus ({ "com.korvel.backup.plugin.cancel" });
  EXPECT_EQ (request ("open", "200"), "(0, '" + tmp.toUtf8 () + "')");
  EXPECT_EQ (request ("open", "201"), "(0, '" + tmp.toUtf8 () + "')");
  ASSERT_TRUE (program->waitForFinished (waitMs));
  EXPECT_EQ (program->exitCode (), 0);
  EXPECT_TRUE (vigil->calls ().empty ()) << "nothing was restored";
}

/* A restore cannot be stopped: a cancel or the device's shutdown signal during it ends the
 * program once it has finished, with every restored file whole. A cancel during a backup
 * cancels it and ends the program, leaving no backup. */
TEST_F (SuiteExchangeTest, CancelAndShutdownWaitForTheSuiteRestoreAndCancelEndsABackup)
{
  const QMap<QString, QByteArray> sources = cards (20);
  for (auto file = sources.cbegin (); file != sources.cend (); ++file)
    writeFile (file.key (), file.value ());
  QTemporaryDir transfers;
  const QString transfer = transfers.filePath ("contacts.transfer");
  {
    /* The address book takes three seconds to answer "backup": the cancel comes meanwhile. */
    std::unique_ptr<DBusMock> slowAddressBook = addressBookMock ();
    slowAddressBook->add_method ("backup", "as", "", "time.sleep(3)");
    QProcess *program = serve ();
    EXPECT_EQ (request ("open", "100"), "(0, '" + tmp.toUtf8 () + "')");
    std::unique_ptr<QProcess> pending (
        gdbusStart ({ "com.korvel.backup.plugin.request", "--", "open", "1", "0" }));
    ASSERT_TRUE (waitForTrace ("Start delayed backup operation"));
    gdbus ({ "com.korvel.backup.plugin.cancel" });
    ASSERT_TRUE (program->waitForFinished (waitMs));
    EXPECT_EQ (program->exitCode (), 0);
    ASSERT_TRUE (pending->waitForFinished (waitMs));
    EXPECT_EQ (pending->readAllStandardOutput ().trimmed (), "(2, '')");
    EXPECT_EQ (listedBackups (backups), QStringList ());
    for (auto file = sources.cbegin (); file != sources.cend (); ++file)
      EXPECT_EQ (readFile (file.key ()), file.value ()) << "a cancelled backup removes nothing";

    program = serve ();
    QProcess suite;
    suite.start (SAFEHOLD_SUITE, { "backup", "contacts", "-o", transfer });
    ASSERT_TRUE (suite.waitForFinished (waitMs));
    ASSERT_EQ (suite.exitCode (), 0) << suite.readAll ().constData ();
    ASSERT_TRUE (program->waitForFinished (waitMs));
  }

  std::unique_ptr<DBusMock> importingAddressBook = addressBookMock ();
  addressBookImports (*importingAddressBook,
                      "shutil.rmtree(home + '/imported', ignore_errors=True); "
                      "shutil.copytree(home + '/.contacts/backup', home + '/imported')");
  QProcessEnvironment slow;
  slow.insert ("SF_SLOW", "1");
  for (const char *end : { "cancel", "shutdown" })
    {
      SCOPED_TRACE (end);
      QDir (home + "/imported").removeRecursively ();
      QProcess *program = serve (slow);
      int finished = trace ().count ("lumo suite restore finished");
      int started = trace ().count ("sending restore request to backend completed");
      sendContacts (transfer);
      ASSERT_TRUE (waitForTrace ("sending restore request to backend completed", started + 1));
      if (QByteArray (end) == "cancel")
        gdbus ({ "com.korvel.backup.plugin.cancel" });
      else
        sendShutdown ();
      ASSERT_TRUE (program->waitForFinished (waitMs));
      EXPECT_EQ (program->exitCode (), 0);
      EXPECT_EQ (trace ().count ("lumo suite restore finished"), finished + 1)
          << "the program ended before the restore did";
      for (auto file = sources.cbegin (); file != sources.cend (); ++file)
        {
          QString imported = file.key ();
          imported.replace ("/.contacts/backup/", "/imported/");
          EXPECT_EQ (readFile (imported), file.value ()) << imported.toStdString ();
        }
      EXPECT_TRUE (vigil->calls ().empty ());
    }
}

/* A kill while a large transfer file is split leaves no backup behind for the list. */
TEST_F (SuiteExchangeTest, KillDuringALargeSplitLeavesNothingListed)
{
  QProcess *program = serve ();
  EXPECT_EQ (request ("open", "200"), "(0, '" + tmp.toUtf8 () + "')");
  EXPECT_EQ (request ("open", "1"), "(0, '" + tmp.toUtf8 () + "/contacts')");
  QTemporaryDir sources;
  writeFile (sources.filePath ("meta"), "<backup-metadata/>");
  QFile archive (sources.filePath ("contacts"));
  ASSERT_TRUE (archive.open (QIODevice::WriteOnly));
  const QByteArray block (1 << 20, 'z');
  for (int megabyte = 0; megabyte < 128; megabyte++)
    archive.write (block);
  archive.close ();
  QString error;
  ASSERT_TRUE (LumoSuiteTransfer::merge (
      { { 0, sources.filePath ("meta") }, { 1, sources.filePath ("contacts") } }, tmp + "/contacts",
      &error))
      << error.toStdString ();
  archive.remove ();

  // Watched from before the close, so that the kill lands while the split writes.
  const QString partial = backups + "/.LUMO Suite Backup.partial";
  const QString whole = backups + "/LUMO Suite Backup";
  std::unique_ptr<QProcess> close (
      gdbusStart ({ "com.korvel.backup.plugin.request", "--", "close", "1",
                    QString::number (QFileInfo (tmp + "/contacts").size ()) }));
  QElapsedTimer waited;
  waited.start ();
  while (!QFileInfo::exists (partial) && !QFileInfo::exists (whole) && waited.elapsed () < waitMs)
    QThread::usleep (100);
  program->kill ();
  program->waitForFinished ();
  EXPECT_EQ (listedBackups (backups), QStringList ());

  program = serve ();
  EXPECT_EQ (listedBackups (backups), QStringList ());
  EXPECT_FALSE (QFileInfo::exists (partial)) << "the next start removes the leftover";
}

/* Settings that do not fit their file system: the restore leaves them as they are, the stop
 * reply says not everything was restored, and the phone does not restart. */
TEST_F (SuiteExchangeTest, SettingsThatDoNotFitTheirFileSystemStayAndTheStopReplySaysSo)
{
  const QString folder = home + "/.config/settings";
  TmpfsMount tmpfs ("8M", "", folder.toStdString ());
  SKIP_UNLESS_MOUNTED (tmpfs);
  writeFile (folder + "/system.db", QByteArray::fromStdString (random_bytes (4 * 1000 * 1000, 5)));
  writeFile (folder + "/accounts.db", "accounts");
  QTemporaryDir transfers;
  QProcess *program = serve ();
  QProcess suite;
  const QString transfer = transfers.filePath ("settings.transfer");
  suite.start (SAFEHOLD_SUITE, { "backup", "settings", "-o", transfer });
  ASSERT_TRUE (suite.waitForFinished (waitMs));
  ASSERT_EQ (suite.exitCode (), 0) << suite.readAll ().constData ();
  ASSERT_TRUE (program->waitForFinished (waitMs));

  const QByteArray current = QByteArray::fromStdString (random_bytes (1000 * 1000, 6));
  writeFile (folder + "/system.db", current);
  ASSERT_EQ (mount ("tmpfs", tmpfs.path ().c_str (), "tmpfs", MS_REMOUNT, "size=3M,mode=0755"), 0)
      << strerror (errno);

  program = serve ();
  EXPECT_EQ (request ("open", "200"), "(0, '" + tmp.toUtf8 () + "')");
  EXPECT_EQ (request ("open", "5"), "(0, '" + tmp.toUtf8 () + "/settings')");
  ASSERT_TRUE (QFile::copy (transfer, tmp + "/settings"));
  EXPECT_EQ (request ("close", "5", QFileInfo (transfer).size ()), "(0, '')");
  EXPECT_EQ (request ("open", "201"), "(2, '" + tmp.toUtf8 () + "')");
  ASSERT_TRUE (program->waitForFinished (waitMs));
  EXPECT_TRUE (readFile (folder + "/system.db") == current) << "the current settings stay";
  EXPECT_EQ (readFile (folder + "/accounts.db"), "accounts");
  EXPECT_TRUE (vigil->calls ().empty ()) << "nothing was restored that needs a restart";
}

/* The suite's cancel while the address book is slow to answer "backup": the backup ends once,
 * its late answer starts nothing, and the backups of other memories or names stay as they were. */
TEST_F (SuiteExchangeTest, CancelWhileTheApplicationIsSlowEndsOnceAndTouchesNoOtherBackup)
{
  const QMap<QString, QByteArray> sources = cards (4);
  for (auto file = sources.cbegin (); file != sources.cend (); ++file)
    writeFile (file.key (), file.value ());
  /* A second memory beside the internal one, each with complete backups, one of them of the
   * name the suite's backup takes. */
  const QString card = home + "/Card2";
  writeFile (card + "/mounted", "");
  QMap<QString, QByteArray> others;
  for (const QString &folder : { card + "/.backups/LUMO Suite Backup", backups + "/Backup0",
                                 backups + "/LUMO Suite Backup", card + "/.backups/Backup0" })
    {
      QDir ().mkpath (QFileInfo (folder).path ());
      g_autoptr (GFile) directory = g_file_new_for_path (folder.toUtf8 ().constData ());
      g_autoptr (SfBackupInfo) info = sf_backup_info_new (
          directory, 1000, FALSE, NULL, "1", "", SF_BACKUP_INFO_FORMAT, SF_CATEGORY_CONTACTS);
      ASSERT_EQ (sf_backup_info_create_dir (info), nullptr);
      ASSERT_EQ (sf_backup_info_write_metadata (info), nullptr);
      writeFile (folder + "/contacts.zip", "the archive of " + folder.toUtf8 ());
      for (const QString &name : QDir (folder).entryList (QDir::Files | QDir::Hidden))
        others.insert (folder + "/" + name, readFile (folder + "/" + name));
    }

  std::unique_ptr<DBusMock> addressBook = addressBookMock ();
  addressBook->add_method ("backup", "as", "", "time.sleep(3)");
  QProcess *program = serve ();
  EXPECT_EQ (request ("open", "100"), "(0, '" + tmp.toUtf8 () + "')");
  std::unique_ptr<QProcess> pending (
      gdbusStart ({ "com.korvel.backup.plugin.request", "--", "open", "1", "0" }));
  /* The mock answers nothing, its call records included, while it sleeps. */
  ASSERT_TRUE (waitForTrace ("waiting for dbus methods to return for starting backup"));
  gdbus ({ "com.korvel.backup.plugin.cancel" });
  ASSERT_TRUE (pending->waitForFinished (waitMs));
  EXPECT_EQ (pending->readAllStandardOutput ().trimmed (), "(2, '')");
  ASSERT_TRUE (program->waitForFinished (waitMs));
  EXPECT_EQ (program->exitCode (), 0);
  EXPECT_EQ (addressBook->calls ().size (), 1u) << "the address book answered while it ran";

  const QString log = trace ();
  EXPECT_EQ (log.count ("Backup DONE, status code = 101"), 1) << qPrintable (log);
  EXPECT_EQ (log.count ("Backup DONE"), 1);
  EXPECT_EQ (log.count ("lumo suite backup finished"), 1);
  EXPECT_EQ (log.count ("Sending delayed reply"), 1);
  EXPECT_LE (log.count ("Removing the uncompleted backup"), 1);
  EXPECT_EQ (log.count ("sf_backend_start_backup() finished"), 0)
      << "the late answer started no backup";
  /* The suite's own folder on the memory it backs up to is its working folder, emptied by design;
   * everything else stays. */
  const QString removal = "Removing the backup folder \"LUMO Suite Backup\" of ";
  ASSERT_TRUE (log.contains (removal));
  const qsizetype at = log.indexOf (removal) + removal.size ();
  const QString folder = log.mid (at, log.indexOf ('\n', at) - at);
  EXPECT_EQ (log.count (removal + folder + '\n'), log.count (removal)) << "one memory only";
  const QString working = folder + "/LUMO Suite Backup/";
  ASSERT_TRUE (working == backups + "/LUMO Suite Backup/"
               || working == card + "/.backups/LUMO Suite Backup/")
      << qPrintable (working);
  for (auto file = others.cbegin (); file != others.cend (); ++file)
    {
      if (!file.key ().startsWith (working))
        {
          EXPECT_EQ (readFile (file.key ()), file.value ()) << qPrintable (file.key ());
        }
    }
  for (auto file = sources.cbegin (); file != sources.cend (); ++file)
    EXPECT_EQ (readFile (file.key ()), file.value ()) << "a cancelled backup removes nothing";
}
