#include "main-view-fixture.h"

#include "BackupLastStateInfo.h"

#include <QUrl>

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

  void SetUp () override
  {
    MainViewFixture::SetUp ();
    secondRoot ();
  }

  void TearDown () override
  {
    MainViewFixture::TearDown ();
    QDir (secondRoot () + "/.backups").removeRecursively ();
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
