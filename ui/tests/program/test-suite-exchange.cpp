#include "program-fixture.h"

#include "LumoSuiteTransfer.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>

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
    DBusMock addressBook (G_BUS_TYPE_SESSION, "com.korvel.contacts", "/com/korvel/contacts",
                          "com.korvel.backupclient");
    addressBook.add_method ("backup", "as", "", "time.sleep(3)");
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

  DBusMock addressBook (G_BUS_TYPE_SESSION, "com.korvel.contacts", "/com/korvel/contacts",
                        "com.korvel.backupclient");
  addressBook.add_method ("restore", "assas", "",
                          "import os, shutil; home = os.environ['HOME']; "
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
