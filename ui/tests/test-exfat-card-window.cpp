#include "main-view-fixture.h"

#include "sf-error.h"

#include "BackupLastStateInfo.h"
#include "BackupList.h"
#include "PasswordQuerySheet.h"
#include "RestoreEngine.h"
#include "TkBanner.h"
#include "exfat-card.h"
#include "test-data.h"

#include <sys/stat.h>
#include <utime.h>

/* The program's window with the phone's memory card: an exFAT image through FUSE, mounted where
 * MMC_MOUNTPOINT says before the target manager starts, so that the real target manager finds it
 * as a volume, and follows it when it is pulled out and put back. */
namespace
{
const char *const clientInterface = "com.korvel.backupclient";

class ExfatCardWindow : public MainViewFixture
{
protected:
  static ExfatCard &card ()
  {
    static ExfatCard the_card ((QDir::homePath () + "/Card").toStdString (), "64M");
    return the_card;
  }

  static QString cardPath ()
  {
    return QString::fromStdString (card ().path ());
  }

  void SetUp () override
  {
    qputenv ("MMC_MOUNTPOINT", card ().path ().c_str ());
    MainViewFixture::SetUp ();
    if (!card ().mounted ())
      GTEST_SKIP () << "cannot mount an exFAT card: " << card ().reason ();
  }

  void TearDown () override
  {
    MainViewFixture::TearDown ();
    emptyBackups (cardPath ());
    QFile::remove (imported ());
  }

  /* Opens the window and waits for the card to be its memory for new backups. */
  void openOnCard ()
  {
    openView ();
    waitForCard ();
  }

  void waitForCard ()
  {
    ASSERT_TRUE (QTest::qWaitFor ([this] {
      SfTarget *target = view->getDefaultTarget ();
      return target != nullptr
             && QUrl::fromEncoded (sf_target_get_uri (target)).toLocalFile () == cardPath ();
    }));
  }

  static void setModeAndTime (const QString &path, mode_t mode, time_t time)
  {
    QByteArray name = QFile::encodeName (path);
    ASSERT_EQ (chmod (name.constData (), mode), 0);
    struct utimbuf times = { time, time };
    ASSERT_EQ (utime (name.constData (), &times), 0);
  }

  static QString modeAndTime (const QString &path)
  {
    struct stat status;
    if (stat (QFile::encodeName (path).constData (), &status) != 0)
      return "<missing>";
    return QString::number (status.st_mode & 0777, 8) + " " + QString::number (status.st_mtime);
  }

  /* Restores the listed backup named name, giving password when it is protected, and waits for
   * the end; returns the status. */
  int restoreFromList (const char *name, const QString &password = QString ())
  {
    view->setUnitTestMode (true);
    requestRestore (name);
    if (!password.isEmpty ())
      {
        PasswordQuerySheet *query = visible<PasswordQuerySheet> ();
        if (query == nullptr)
          return -1;
        query->findChild<QLineEdit *> ("passwordField")->setText (password);
        query->acceptButton ()->click ();
      }
    if (!QTest::qWaitFor ([this] { return view->findChild<RestoreEngine *> () != nullptr; }))
      return -1;
    QSignalSpy finished (view->findChild<RestoreEngine *> (),
                         &RestoreEngine::restoreEngineFinished);
    return finished.wait (waitMs) ? finished[0][0].toInt () : -1;
  }

  /* Pulls the card out at the backend's first progress report from now on. */
  void pullAtFirstProgress ()
  {
    pulledAt = 0;
    g_signal_connect (view->getBackend (), "progress",
                      G_CALLBACK (+[] (SfBackend *backend, gint, gint, gint, gint, gpointer data) {
                        auto *self = static_cast<ExfatCardWindow *> (data);
                        g_signal_handlers_disconnect_by_data (backend, data);
                        card ().pull ();
                        self->pulledAt = g_get_monotonic_time ();
                      }),
                      this);
  }

  /* The contacts application: told to restore, it imports what was put back into its export
   * area (which the restore empties again afterwards) as imported.vcf, with its mode and time. */
  std::unique_ptr<DBusMock> contactsApplication ()
  {
    auto application = std::make_unique<DBusMock> (G_BUS_TYPE_SESSION, "com.test.exporter",
                                                   "/exporter", clientInterface);
    application->add_method ("backup", "as", "y", "ret = dbus.Byte(0)");
    application->add_method ("restore", "assas", "",
                             "import os, shutil; home = os.environ['HOME']; "
                             "shutil.copy2(home + '/export/card.vcf', home + '/imported.vcf')");
    configure ("com.test.exporter");
    return application;
  }

  QString imported () const
  {
    return home + "/imported.vcf";
  }

  /* The pulled card is noticed as gone (its mount goes away, and with it its target), then put
   * back in. */
  void putBack ()
  {
    card ().unmount ();
    ASSERT_TRUE (QTest::qWaitFor ([this] { return view->getDefaultTarget () == nullptr; }));
    ASSERT_TRUE (card ().plug ()) << card ().reason ();
    waitForCard ();
  }

  TkMessageBox *restoreFailureBox () const
  {
    for (TkMessageBox *candidate : view->findChildren<TkMessageBox *> ())
      if (candidate->isVisible () && candidate->title () == qtTrId ("qtn_back_restorefail_tit"))
        return candidate;
    return nullptr;
  }

  gint64 pulledAt = 0;
};
} // namespace

TEST_F (ExfatCardWindow, BackupAndRestoreRoundTripPlainAndProtected)
{
  std::unique_ptr<DBusMock> contacts = contactsApplication ();
  for (const QString &password : { QString (), QStringLiteral ("card pass") })
    {
      QFile::remove (imported ());
      writeFile (home + "/export/card.vcf", "BEGIN:VCARD " + password.toUtf8 ());
      setModeAndTime (home + "/export/card.vcf", 0640, 1200000000);
      writeFile (home + "/settings.db", "settings");
      setModeAndTime (home + "/settings.db", 0600, 1300000001);
      openOnCard ();
      startFromSheet ("on the card", password);
      ASSERT_EQ (finishBackup (), 100);
      const char *name = password.isEmpty () ? "Backup0" : "Backup1";
      waitForListed (name);
      EXPECT_FALSE (QFileInfo::exists (home + "/export/card.vcf")) << "packed and taken away";
      writeFile (home + "/settings.db", "changed since");

      EXPECT_EQ (restoreFromList (name, password), 204) << "settings were written";
      EXPECT_EQ (readFile (imported ()), "BEGIN:VCARD " + password.toUtf8 ());
      EXPECT_EQ (modeAndTime (imported ()), "640 1200000000");
      EXPECT_EQ (readFile (home + "/settings.db"), "settings");
      EXPECT_EQ (modeAndTime (home + "/settings.db"), "600 1300000001");
      ASSERT_TRUE (QTest::qWaitFor ([this] { return !view->isVisible (); }, waitMs));
      delete view;
      view = nullptr;
    }
}

/* A folder whose name differs from the next backup's only in case is that backup's folder on
 * the card: the backup takes the next free name instead. */
TEST_F (ExfatCardWindow, NameTakenInAnotherCaseIsNotReused)
{
  configure ();
  ASSERT_TRUE (QDir ().mkpath (cardPath () + "/.backups/backup0"));
  writeFile (cardPath () + "/.backups/backup0/keep", "someone else's");
  writeFile (home + "/export/card.vcf", "BEGIN:VCARD");
  openOnCard ();
  startFromSheet ("");
  ASSERT_EQ (finishBackup (), 100);
  waitForListed ("Backup1");
  EXPECT_EQ (readFile (cardPath () + "/.backups/backup0/keep"), "someone else's");
  EXPECT_FALSE (QFileInfo::exists (cardPath () + "/.backups/backup0/contacts.zip"));
}

TEST_F (ExfatCardWindow, ReadOnlyCardRefusesABackupUpFrontAndStillListsAndRestores)
{
  std::unique_ptr<DBusMock> contacts = contactsApplication ();
  writeFile (home + "/export/card.vcf", "BEGIN:VCARD");
  openOnCard ();
  startFromSheet ("");
  ASSERT_EQ (finishBackup (), 100);
  waitForListed ("Backup0");
  contacts->clear_calls ();

  ASSERT_TRUE (card ().remount (true)) << card ().reason ();
  writeFile (home + "/export/card.vcf", "changed since");
  startFromSheet ("");
  EXPECT_EQ (finishBackup (), 103);
  ASSERT_NE (box ("qtn_back_memory_read_only"), nullptr) << "the message says why";
  EXPECT_TRUE (contacts->calls ().empty ()) << "no application was asked to write its data out";
  EXPECT_EQ (readFile (home + "/export/card.vcf"), "changed since");
  box ("qtn_back_memory_read_only")->accept ();

  reload ();
  EXPECT_EQ (listedNames (), QStringList{ "Backup0" });
  EXPECT_EQ (restoreFromList ("Backup0"), 200);
  EXPECT_EQ (readFile (imported ()), "BEGIN:VCARD");
  ASSERT_TRUE (card ().remount (false)) << card ().reason ();
}

/* The card pulled out in the middle of a backup, then of a restore: each ends within seconds,
 * deletes nothing, leaves the window usable and leaves its marker for the next start; once the
 * card is back, the same backup restores whole. */
TEST_F (ExfatCardWindow, PulledCardLosesNothingAndTheNextStartSaysSo)
{
  DBusMock notifications (G_BUS_TYPE_SESSION, "org.freedesktop.Notifications",
                          "/org/freedesktop/Notifications", "org.freedesktop.Notifications");
  notifications.add_method ("Notify", "susssasa{sv}i", "u", "ret = 1");
  std::unique_ptr<DBusMock> contacts = contactsApplication ();
  /* Incompressible data, so that archives are still being written or read when the card goes;
   * contacts alone, so that a restore that fails writes no settings (which would reboot). */
  QByteArray large = QByteArray::fromStdString (random_bytes (16 * 1024 * 1024, 9));
  writeFile (home + "/export/large.bin", large);
  writeFile (home + "/export/card.vcf", "BEGIN:VCARD whole");
  openOnCard ();
  startFromSheet ("complete");
  ASSERT_EQ (finishBackup (), 100);
  waitForListed ("Backup0");

  writeFile (home + "/export/large.bin", large);
  writeFile (home + "/export/card.vcf", "BEGIN:VCARD new");
  pullAtFirstProgress ();
  startFromSheet ("cut");
  EXPECT_EQ (finishBackup (), 103);
  ASSERT_NE (pulledAt, 0);
  EXPECT_LT (g_get_monotonic_time () - pulledAt, 15 * G_USEC_PER_SEC);
  EXPECT_EQ (readFile (home + "/export/large.bin"), large) << "no source deleted";
  EXPECT_EQ (readFile (home + "/export/card.vcf"), "BEGIN:VCARD new");
  EXPECT_FALSE (view->isBusy ());
  EXPECT_TRUE (view->findChild<BackupList *> ()->isEnabled ()) << "the window is usable";
  TkMessageBox *failed = box ("qtn_back_backupinterrupted");
  ASSERT_NE (failed, nullptr);
  failed->accept ();

  putBack ();
  EXPECT_TRUE (QFileInfo::exists (cardPath () + "/.backups/Backup1")) << "the card was gone";
  BackupMainView::showInterruptedNotificationIfNeeded ();
  ASSERT_EQ (notifications.wait_for_calls ("Notify", 1), 1u);
  EXPECT_NE (
      notifications.calls ()[0].args.find (qtTrId ("qtn_back_backupinterrupted").toStdString ()),
      std::string::npos);
  EXPECT_FALSE (QFileInfo::exists (cardPath () + "/.backups/Backup1")) << "the half is removed";

  /* The restore: the card goes at the first progress, after the current files were removed. */
  reload ();
  waitForListed ("Backup0");
  pullAtFirstProgress ();
  /* Each file and each written chunk waits a little, so that the card goes in the middle. */
  qputenv ("SF_SLOW", "1");
  EXPECT_EQ (restoreFromList ("Backup0"), 200);
  qunsetenv ("SF_SLOW");
  ASSERT_NE (pulledAt, 0);
  EXPECT_LT (g_get_monotonic_time () - pulledAt, 15 * G_USEC_PER_SEC);
  ASSERT_TRUE (QTest::qWaitFor ([this] { return restoreFailureBox () != nullptr; }));
  EXPECT_TRUE (restoreFailureBox ()->text ().contains ("Contacts: "))
      << qPrintable (restoreFailureBox ()->text ());
  EXPECT_TRUE (vigil->calls ().empty ()) << "no reboot";
  for (TkBanner *banner : view->findChildren<TkBanner *> ())
    EXPECT_NE (banner->text (), view->getCachedTranslation ("qtn_back_settingsreboot"));
  EXPECT_TRUE (view->isVisible ());

  BackupMainView::showInterruptedNotificationIfNeeded ();
  ASSERT_EQ (notifications.wait_for_calls ("Notify", 2), 2u);
  EXPECT_NE (
      notifications.calls ()[1].args.find (qtTrId ("qtn_back_restoreinterrupted").toStdString ()),
      std::string::npos);

  restoreFailureBox ()->accept ();
  putBack ();
  reload ();
  waitForListed ("Backup0");
  EXPECT_EQ (restoreFromList ("Backup0"), 200);
  EXPECT_EQ (restoreFailureBox (), nullptr);
  EXPECT_EQ (readFile (imported ()), "BEGIN:VCARD whole");
}

/* FAT keeps file times in two-second steps and may round them up: a marker written at 999.3 s
 * may say 1000 s, while the description of the backup it names says 999. */
TEST (InterruptedBackupTimes, DescriptionAfterTheMarkerCountsOnCoarseFileTimes)
{
  EXPECT_TRUE (BackupLastStateInfo::describedSinceMarker (1000, 1000000));
  EXPECT_TRUE (BackupLastStateInfo::describedSinceMarker (1000, 1000999));
  EXPECT_TRUE (BackupLastStateInfo::describedSinceMarker (999, 1000000)) << "rounded up";
  EXPECT_TRUE (BackupLastStateInfo::describedSinceMarker (998, 1000000)) << "rounded up";
  EXPECT_FALSE (BackupLastStateInfo::describedSinceMarker (997, 1000000)) << "written before";
  EXPECT_FALSE (BackupLastStateInfo::describedSinceMarker (900, 1000000));
}
