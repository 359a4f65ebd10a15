#include "main-view-fixture.h"
#include "test-data.h"

#include "sf-archiver-zip.h"

#include "BackupLastStateInfo.h"

#include <QDirIterator>
#include <QUrl>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
const char *const clientInterface = "com.korvel.backupclient";

/* The window with two memories: the fake card of the fixture and a second one beside it, both
 * known to the process's target manager before the first window opens. */
class TwoMemories : public MainViewFixture
{
protected:
  static QString secondRoot ()
  {
    static QString root = [] {
      QString parent = QFileInfo (cardRoot ()).path ();
      static TmpfsMount tmpfs ("16M");
      /* A tmpfs lands beside the card only when the card is a tmpfs of its own too. */
      QString path = tmpfs.mounted () && cardIsOwnFileSystem ()
                         ? QString::fromStdString (tmpfs.path ())
                         : parent + "/second";
      QDir ().mkpath (path);
      QFile (path + "/mounted").open (QIODevice::WriteOnly);
      return path;
    }();
    return root;
  }

  static QString rootOf (SfTarget *target)
  {
    return QUrl::fromEncoded (sf_target_get_uri (target)).toLocalFile ();
  }

  /* A complete backup of one archive on the memory at root. */
  static void writeCompleteBackup (const QString &root, const char *name)
  {
    QString folder = root + "/.backups/" + name;
    QDir ().mkpath (root + "/.backups");
    g_autoptr (GFile) directory = g_file_new_for_path (folder.toUtf8 ().constData ());
    g_autoptr (SfBackupInfo) info = sf_backup_info_new (
        directory, 1000, FALSE, NULL, "1", "", SF_BACKUP_INFO_FORMAT, SF_CATEGORY_CONTACTS);
    ASSERT_EQ (sf_backup_info_create_dir (info), nullptr);
    sf_backup_info_set_data_amount (info, SF_CATEGORY_CONTACTS, 11, 1);
    ASSERT_EQ (sf_backup_info_write_metadata (info), nullptr);
    writeFile (folder + "/contacts.zip", "the archive");
  }

  /* Starts the engine's interruption helper on a backup of contacts and settings into folder. */
  GPid startBackupChild (const QString &folder)
  {
    std::string child = SAFEHOLD_BINARY_DIR "/engine/tests/interruption-child";
    std::string configuration = (home + "/configurations").toStdString ();
    std::string backup = folder.toStdString ();
    const gchar *argv[]
        = { child.c_str (), "backup", configuration.c_str (), backup.c_str (), NULL };
    GPid pid = 0;
    g_autoptr (GError) error = NULL;
    EXPECT_TRUE (g_spawn_async (NULL, (gchar **)argv, NULL, G_SPAWN_DO_NOT_REAP_CHILD, NULL, NULL,
                                &pid, &error))
        << error->message;
    return pid;
  }

  /* Every file below folder with its content. */
  static QMap<QString, QByteArray> contents (const QString &folder)
  {
    QMap<QString, QByteArray> files;
    QDirIterator entries (folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (entries.hasNext ())
      {
        QString path = entries.next ();
        files.insert (path, readFile (path));
      }
    return files;
  }

  void SetUp () override
  {
    MainViewFixture::SetUp ();
    secondRoot ();
  }

  void TearDown () override
  {
    MainViewFixture::TearDown ();
    emptyBackups (secondRoot ());
    QDir (home + "/MyDocs").removeRecursively ();
    BackupLastStateInfo ().unlockBackupInfo ();
  }
};
} // namespace

TEST_F (TwoMemories, FailedOrCancelledBackupLeavesTheOtherMemorysBackupOfThatName)
{
  DBusMock exporter (G_BUS_TYPE_SESSION, "com.test.exporter", "/exporter", clientInterface);
  exporter.add_method ("backup", "as", "y", "time.sleep(2)\nret = dbus.Byte(0)");
  configure ("com.test.exporter");
  writeFile (home + "/export/card.vcf", "BEGIN:VCARD");
  openView ();
  ASSERT_EQ (sf_target_manager_get_targets (view->getTargetManager ())->next != NULL, true)
      << "two memories";
  QString defaultRoot = rootOf (view->getDefaultTarget ());
  QString otherRoot = defaultRoot == cardRoot () ? secondRoot () : cardRoot ();
  writeCompleteBackup (otherRoot, "Backup0");
  QString archive = otherRoot + "/.backups/Backup0/contacts.zip";

  /* Cancelled while the applications are still writing their data: nothing of it exists yet. */
  startFromSheet ("");
  ASSERT_TRUE (QTest::qWaitFor ([this] { return view->findChild<BackupEngine *> () != nullptr; }));
  view->findChild<BackupEngine *> ()->cancelBackup ();
  EXPECT_EQ (finishBackup (), 101);
  EXPECT_EQ (readFile (archive), "the archive");
  EXPECT_FALSE (QFileInfo::exists (defaultRoot + "/.backups/Backup0"));
  EXPECT_EQ (readFile (home + "/export/card.vcf"), "BEGIN:VCARD");

  /* Too much data for the default memory: the check fails before anything is written. */
  if (cardIsOwnFileSystem ())
    {
      QFile sparse (home + "/export/large");
      ASSERT_TRUE (sparse.open (QIODevice::WriteOnly));
      ASSERT_TRUE (sparse.resize (qint64 (1) << 30));
      sparse.close ();
      startFromSheet ("");
      EXPECT_EQ (finishBackup (), 102);
      EXPECT_EQ (readFile (archive), "the archive");
      QFile::remove (home + "/export/large");
    }
  EXPECT_TRUE (listedNames ().contains ("Backup0"));
}

TEST_F (TwoMemories, StartUpRemovesOnlyTheInterruptedFolderOnItsOwnMemory)
{
  ensureApplication ();
  DBusMock notifications (G_BUS_TYPE_SESSION, "org.freedesktop.Notifications",
                          "/org/freedesktop/Notifications", "org.freedesktop.Notifications");
  notifications.add_method ("Notify", "susssasa{sv}i", "u", "ret = 1");
  QString internal = home + "/MyDocs";
  writeCompleteBackup (internal, "Backup3");
  writeCompleteBackup (cardRoot (), "Backup3");
  BackupLastStateInfo lastState;

  /* The card backup was killed after its folder was made: a folder without a description. */
  QFile::remove (cardRoot () + "/.backups/Backup3/backup.metadata");
  lastState.lockBackupInfo ("Backup3", cardRoot () + "/.backups");
  BackupMainView::showInterruptedNotificationIfNeeded ();
  EXPECT_FALSE (QFileInfo::exists (cardRoot () + "/.backups/Backup3"));
  EXPECT_EQ (readFile (internal + "/.backups/Backup3/contacts.zip"), "the archive");
  ASSERT_EQ (notifications.wait_for_calls ("Notify", 1), 1u) << "the interruption is reported";

  /* A marker of an earlier version names no memory: a complete backup of that name stays. */
  lastState.lockBackupInfo ("Backup3");
  BackupMainView::showInterruptedNotificationIfNeeded ();
  EXPECT_EQ (readFile (internal + "/.backups/Backup3/contacts.zip"), "the archive");
  QDir (internal).removeRecursively ();
}

/* A backend writing a backup to the card, killed: the next start removes that half-written
 * folder only, and the complete backup of the same name on the internal memory stays whole. */
TEST_F (TwoMemories, KilledCardBackupGoesAtStartUpAndTheInternalOneOfItsNameStays)
{
  ensureApplication ();
  DBusMock notifications (G_BUS_TYPE_SESSION, "org.freedesktop.Notifications",
                          "/org/freedesktop/Notifications", "org.freedesktop.Notifications");
  notifications.add_method ("Notify", "susssasa{sv}i", "u", "ret = 1");
  configure ();
  /* Enough to pack that the kill lands while an archive is being written. */
  auto writeSources = [this] {
    for (int index = 0; index < 24; index++)
      writeFile (home + "/export/card-" + QString::number (index) + ".vcf",
                 QByteArray::fromStdString (random_bytes (1000 * 1000, index)));
    writeFile (home + "/settings.db", "settings");
  };
  writeSources ();
  const QString internal = home + "/MyDocs/.backups/Backup0";
  QDir ().mkpath (home + "/MyDocs/.backups");
  int status = 0;
  GPid pid = startBackupChild (internal);
  ASSERT_EQ (waitpid (pid, &status, 0), pid);
  ASSERT_TRUE (WIFEXITED (status) && WEXITSTATUS (status) == 0) << "the internal backup";
  const QMap<QString, QByteArray> whole = contents (internal);
  ASSERT_FALSE (whole.isEmpty ());

  writeSources ();
  const QString cardBackups = cardRoot () + "/.backups";
  QDir ().mkpath (cardBackups);
  /* As the backup engine marks a backup before the backend starts on it. */
  BackupLastStateInfo ().lockBackupInfo ("Backup0", cardBackups);
  pid = startBackupChild (cardBackups + "/Backup0");
  bool writing = false;
  for (int waited = 0; !writing && waited < waitMs; waited++)
    {
      for (const QByteArray &content : contents (cardBackups + "/Backup0"))
        writing = writing || !content.isEmpty ();
      if (!writing)
        QThread::msleep (1);
    }
  kill (pid, SIGKILL);
  ASSERT_EQ (waitpid (pid, &status, 0), pid);
  ASSERT_TRUE (writing);
  ASSERT_TRUE (WIFSIGNALED (status)) << "the backup ended before it could be killed";

  BackupMainView::showInterruptedNotificationIfNeeded ();
  EXPECT_FALSE (QFileInfo::exists (cardBackups + "/Backup0"));
  EXPECT_TRUE (contents (internal) == whole) << "the internal backup is untouched";
  g_autoptr (GFile) directory = g_file_new_for_path (internal.toUtf8 ().constData ());
  g_autoptr (SfBackupInfo) info = sf_backup_info_new_from_directory (directory);
  ASSERT_NE (info, nullptr);
  for (SfCategory category : { SF_CATEGORY_CONTACTS, SF_CATEGORY_SETTINGS })
    {
      g_autoptr (GError) error = NULL;
      EXPECT_TRUE (sf_archiver_zip_check_category (info, category, NULL, NULL, NULL, &error))
          << category << " " << (error != NULL ? error->message : "");
    }
  ASSERT_EQ (notifications.wait_for_calls ("Notify", 1), 1u);
  EXPECT_NE (
      notifications.calls ()[0].args.find (qtTrId ("qtn_back_backupinterrupted").toStdString ()),
      std::string::npos)
      << notifications.calls ()[0].args;
}
