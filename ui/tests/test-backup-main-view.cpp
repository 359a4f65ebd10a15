#include "main-view-fixture.h"

#include "sf-category.h"
#include "sf-utils.h"

#include "BackupLastStateInfo.h"
#include "BackupList.h"
#include "PasswordQuerySheet.h"
#include "RestoreDeleteFileQueryDialog.h"
#include "RestoreEngine.h"
#include "StartRestoreQueryDialog.h"
#include "TkBanner.h"
#include "TkLockIcon.h"
#include "UsbModeWatcher.h"
#include "test-data.h"

#include <cerrno>
#include <cstring>
#include <sys/mount.h>

namespace
{
class MainView : public MainViewFixture
{
protected:
  /* Configures the applications, writes a contacts card and the settings database, and backs
   * them up from the window's new-backup sheet; returns the backup's status. */
  int backUpFromTheWindow (const QByteArray &card, const QString &notes,
                           const QString &password = QString ())
  {
    configure ();
    writeFile (home + "/export/card.vcf", card);
    writeFile (home + "/settings.db", "settings");
    openView ();
    startFromSheet (notes, password);
    return finishBackup ();
  }

  /* The visible restore-failed box, or null. */
  TkMessageBox *failureBox () const
  {
    for (TkMessageBox *candidate : view->findChildren<TkMessageBox *> ())
      if (candidate->isVisible () && candidate->title () == qtTrId ("qtn_back_restorefail_tit"))
        return candidate;
    return nullptr;
  }

  /* Waits for the restore to end without a reboot; returns the failure box's text. */
  QString restoreFailure ()
  {
    if (!QTest::qWaitFor ([this] { return failureBox () != nullptr; }, waitMs))
      return QString ();
    EXPECT_FALSE (view->restoreIsRunning ()) << "no reboot is waited for";
    EXPECT_TRUE (vigil->calls ().empty ());
    for (TkBanner *banner : view->findChildren<TkBanner *> ())
      EXPECT_NE (banner->text (), view->getCachedTranslation ("qtn_back_settingsreboot"))
          << "no success banner";
    return failureBox ()->text ();
  }
};
} // namespace

TEST (BackupRestoreUtils, SizesAreShownWithAtMostOneDecimal)
{
  QLocale::setDefault (QLocale (QLocale::English, QLocale::UnitedStates));
  EXPECT_EQ (BackupRestoreUtils::sizeToText (0), "1kB");
  EXPECT_EQ (BackupRestoreUtils::sizeToText (1023), "1kB");
  EXPECT_EQ (BackupRestoreUtils::sizeToText (102399), "99kB");
  EXPECT_EQ (BackupRestoreUtils::sizeToText (102400), "0.1MB");
  EXPECT_EQ (BackupRestoreUtils::sizeToText (2621440), "2.5MB");
  EXPECT_EQ (BackupRestoreUtils::sizeToText (10485760), "10MB");
  EXPECT_EQ (BackupRestoreUtils::sizeToText (1073741823), "1,023MB");
  EXPECT_EQ (BackupRestoreUtils::sizeToText (1610612736), "1.5GB");
}

TEST_F (MainView, BackupsFromTheSheetAreNamedInTurnAndListedNewestFirst)
{
  configure ();
  writeFile (home + "/export/card.vcf", "BEGIN:VCARD first");
  writeFile (home + "/settings.db", "settings");
  openView ();
  EXPECT_EQ (currentView ()->objectName (), "emptyStateLabel");
  EXPECT_EQ (visible<QLabel> ("emptyStateLabel")->text (), qtTrId ("qtn_back_emptystate"));

  startFromSheet ("  first  ");
  ASSERT_EQ (finishBackup (), 100);
  EXPECT_EQ (listedNames (), QStringList{ "Backup0" });
  EXPECT_EQ (currentView ()->objectName (), "backupList");
  EXPECT_TRUE (visible<BackupList> () != nullptr);

  writeFile (home + "/export/card.vcf", "BEGIN:VCARD second");
  startFromSheet ("second");
  ASSERT_EQ (finishBackup (), 100);
  EXPECT_EQ (listedNames (), (QStringList{ "Backup1", "Backup0" }));
  EXPECT_EQ (view->findChild<BackupList *> ()->count (), 2);
  EXPECT_STREQ (sf_backup_info_get_notes (view->currentBackups ().constLast ()), "first");
  EXPECT_EQ (readFile (home + "/settings.db"), "settings") << "read in place, never removed";
}

/* A backup that is made is named in a banner; one that failed or was cancelled gets none. */
TEST_F (MainView, BannerNamesTheBackupMadeAndOnlyThatOne)
{
  auto banners = [this] () {
    QStringList texts;
    for (TkBanner *banner : view->findChildren<TkBanner *> ())
      if (banner->isVisible ())
        texts << banner->text ();
    return texts;
  };
  ASSERT_EQ (backUpFromTheWindow ("BEGIN:VCARD", "first"), 100);
  EXPECT_EQ (banners (), QStringList{ qtTrId ("qtn_back_backup_created").arg ("Backup0") });
  EXPECT_EQ (banners (), QStringList{ "Backup0 created" }) << "the catalogue's words";
  for (TkBanner *banner : view->findChildren<TkBanner *> ())
    banner->close ();
  QCoreApplication::sendPostedEvents (nullptr, QEvent::DeferredDelete);

  for (int status : { 101, 102, 103 })
    {
      view->slotBackupEngineFinished (status);
      QCoreApplication::processEvents ();
      EXPECT_EQ (banners (), QStringList{}) << status;
    }
}

TEST_F (MainView, MassStorageWhileIdleShowsNoActivityButNotDuringABackup)
{
  configure ();
  writeFile (home + "/settings.db", "settings");
  openView ();
  setUsbMode ("mass_storage", "mass_storage");
  waitForUsbState ("mass_storage");
  ASSERT_TRUE (QTest::qWaitFor ([this] { return visible<QLabel> ("noActivityLabel") != nullptr; }));
  EXPECT_EQ (visible<QLabel> ("noActivityLabel")->text (), qtTrId ("qtn_back_emptystate_msm"));
  EXPECT_EQ (visible<QPushButton> ("newBackupButton"), nullptr);

  QSignalSpy listed (view, &BackupMainView::backupsUpdated);
  setUsbMode ("charging_only", "USB disconnected");
  waitForUsbState ("USB disconnected");
  ASSERT_TRUE (listed.wait (waitMs));
  EXPECT_EQ (currentView ()->objectName (), "emptyStateLabel");

  startFromSheet ("during");
  ASSERT_TRUE (QTest::qWaitFor ([this] { return view->backupIsRunning (); }));
  setUsbMode ("mass_storage", "mass_storage");
  waitForUsbState ("mass_storage");
  EXPECT_TRUE (view->backupIsRunning ());
  EXPECT_NE (currentView ()->objectName (), "noActivityLabel") << "ignored while busy";
  setUsbMode ("charging_only", "USB disconnected");
  EXPECT_EQ (finishBackup (), 100);
}

TEST_F (MainView, LowBatteryAsksBeforeTheBackupAndAcceptingStartsIt)
{
  configure ();
  writeFile (home + "/settings.db", "settings");
  setBattery (19.0);
  openView ();
  startFromSheet ("low");
  ASSERT_TRUE (QTest::qWaitFor ([this] { return box ("qtn_back_backupwithlowbattery"); }));
  EXPECT_FALSE (view->backupIsRunning ());
  EXPECT_FALSE (QDir (cardRoot () + "/.backups/Backup0").exists ());

  box ("qtn_back_backupwithlowbattery")->button (QDialogButtonBox::Ok)->click ();
  ASSERT_EQ (finishBackup (), 100);
  EXPECT_EQ (listedNames (), QStringList{ "Backup0" });
}

TEST_F (MainView, RestoreNeedsHalfAMegabyteBeyondTheBackupsSize)
{
  if (!cardIsOwnFileSystem ())
    GTEST_SKIP () << "the card needs a tmpfs of its own for a steady free space";
  configure ();
  /* Records are written again with numbers of the same length, so the free space stays; the
   * window reads them fresh. */
  writeRecord ("Big", 1000000);
  quint64 freeSpace = writeRecord ("Fits", 1000000);
  writeRecord ("Big", freeSpace - 524288);
  ASSERT_EQ (writeRecord ("Fits", freeSpace - 524288 - 1), freeSpace);
  openView ();
  ASSERT_EQ (sf_target_calculate_free_space (view->getDefaultTarget ()), freeSpace);

  requestRestore ("Big");
  ASSERT_TRUE (QTest::qWaitFor ([this] { return box ("qtn_back_devicememfullrestore"); }));
  EXPECT_EQ (box ("qtn_back_devicememfullrestore")->title (), qtTrId ("qtn_back_restorefail_tit"));
  EXPECT_FALSE (view->restoreIsRunning ());
  box ("qtn_back_devicememfullrestore")->button (QDialogButtonBox::Ok)->click ();

  view->setUnitTestMode (true);
  requestRestore ("Fits");
  EXPECT_TRUE (view->restoreIsRunning ());
  EXPECT_EQ (box ("qtn_back_devicememfullrestore"), nullptr);
  /* A record without archives: the restore starts, restores nothing and says so. */
  ASSERT_TRUE (QTest::qWaitFor ([this] { return failureBox () != nullptr; }, waitMs));
  EXPECT_TRUE (view->isVisible ());
}

TEST_F (MainView, WindowRestoreRebootsTwoSecondsAfterItsEndAndCannotBeClosedMeanwhile)
{
  ASSERT_EQ (backUpFromTheWindow ("BEGIN:VCARD kept", "to restore"), 100);
  writeFile (home + "/settings.db", "changed since");

  requestRestore ("Backup0");
  ASSERT_TRUE (view->restoreIsRunning ());
  RestoreEngine *engine = view->findChild<RestoreEngine *> ();
  ASSERT_NE (engine, nullptr);
  QSignalSpy finished (engine, &RestoreEngine::restoreEngineFinished);
  ASSERT_TRUE (finished.wait (waitMs));
  EXPECT_TRUE (vigil->calls ().empty ()) << "the reboot waits two seconds";

  view->close ();
  EXPECT_TRUE (view->isVisible ());
  ASSERT_TRUE (QTest::qWaitFor ([this] { return box ("qtn_back_no_close_during_restore"); }));
  EXPECT_EQ (box ("qtn_back_no_close_during_restore")->title (),
             qtTrId ("qtn_back_no_close_during_restore_tit"));

  ASSERT_TRUE (QTest::qWaitFor ([this] { return !vigil->calls ().empty (); }, waitMs));
  EXPECT_EQ (vigil->calls ().front ().method, "req_reboot");
  ASSERT_TRUE (QTest::qWaitFor ([this] { return !view->isVisible (); }, waitMs));
  EXPECT_FALSE (view->isBusy ());
  EXPECT_EQ (readFile (home + "/settings.db"), "settings");
}

TEST_F (MainView, CloseDuringABackupCancelsItAndClosesAfter101WithEverySourceInPlace)
{
  /* The contacts application answers after three seconds, so the cancel comes first. */
  DBusMock exporter (G_BUS_TYPE_SESSION, "com.test.exporter", "/exporter",
                     "com.korvel.backupclient");
  exporter.add_method ("backup", "as", "y", "time.sleep(3)\nret = dbus.Byte(0)");
  configure ("com.test.exporter");
  for (int i = 0; i < 8; i++)
    writeFile (home + QString ("/export/card%1.vcf").arg (i), QByteArray (4096, 'a' + i));
  writeFile (home + "/settings.db", "settings");
  openView ();

  startFromSheet ("cancelled");
  ASSERT_TRUE (QTest::qWaitFor ([this] { return view->backupIsRunning (); }));
  view->close ();
  EXPECT_TRUE (view->isVisible ());
  ASSERT_TRUE (QTest::qWaitFor ([this] { return box ("qtn_back_cancel_and_close"); }));
  box ("qtn_back_cancel_and_close")->button (QDialogButtonBox::Ok)->click ();
  EXPECT_EQ (finishBackup (), 101);
  ASSERT_TRUE (QTest::qWaitFor ([this] { return !view->isVisible (); }));

  for (int i = 0; i < 8; i++)
    EXPECT_EQ (readFile (home + QString ("/export/card%1.vcf").arg (i)),
               QByteArray (4096, 'a' + i));
  EXPECT_EQ (readFile (home + "/settings.db"), "settings");
  EXPECT_FALSE (QDir (cardRoot () + "/.backups/Backup0").exists ());
}

TEST_F (MainView, LaunchForASoftwareUpdateOpensTheSheetUnlessConnectedToAPc)
{
  configure ();
  openView ();
  view->setLaunchedFromDBus (true);
  view->slotDBusOpenNewBackupDialog ();
  ASSERT_TRUE (QTest::qWaitFor ([this] { return visible<NewBackupDialog> () != nullptr; }));
  EXPECT_TRUE (visible<NewBackupDialog> ()->isLaunchedFromDBus ());
  visible<NewBackupDialog> ()->cancelButton ()->click ();
  QCoreApplication::processEvents ();

  setUsbMode ("lumo_suite", "lumo_suite");
  waitForUsbState ("lumo_suite");
  view->slotDBusOpenNewBackupDialog ();
  QCoreApplication::processEvents ();
  EXPECT_EQ (visible<NewBackupDialog> (), nullptr);
  EXPECT_EQ (currentView ()->objectName (), "noActivityLabel");
}

TEST_F (MainView, ProtectedBackupIsMarkedAndRestoresOnlyWithItsPassword)
{
  ASSERT_EQ (backUpFromTheWindow ("BEGIN:VCARD secret", "locked", "s3cret"), 100);
  ASSERT_EQ (listedNames (), QStringList{ "Backup0" });
  SfBackupInfo *info = view->currentBackups ().constFirst ();
  EXPECT_TRUE (sf_backup_info_get_is_protected (info));
  EXPECT_NE (view->findChild<BackupList *> ()->findChild<TkLockIcon *> ("icon-m-common-locked"),
             nullptr);

  writeFile (home + "/settings.db", "changed since");
  requestRestore ("Backup0");
  PasswordQuerySheet *query = visible<PasswordQuerySheet> ();
  ASSERT_NE (query, nullptr);
  EXPECT_FALSE (view->restoreIsRunning ()) << "nothing starts before the password";
  query->findChild<QLineEdit *> ("passwordField")->setText ("wrong");
  query->acceptButton ()->click ();
  QCoreApplication::processEvents ();
  EXPECT_EQ (query->attemptsLeft (), PasswordQuerySheet::maxAttempts - 1);
  EXPECT_FALSE (view->restoreIsRunning ());
  EXPECT_EQ (readFile (home + "/settings.db"), "changed since") << "nothing removed or restored";

  view->setUnitTestMode (true);
  query->findChild<QLineEdit *> ("passwordField")->setText ("s3cret");
  query->acceptButton ()->click ();
  ASSERT_TRUE (QTest::qWaitFor ([this] { return view->findChild<RestoreEngine *> (); }));
  QSignalSpy finished (view->findChild<RestoreEngine *> (), &RestoreEngine::restoreEngineFinished);
  ASSERT_TRUE (finished.wait (waitMs));
  EXPECT_EQ (readFile (home + "/settings.db"), "settings");
  ASSERT_TRUE (QTest::qWaitFor ([this] { return !view->isVisible (); }, waitMs));
}

TEST_F (MainView, DeleteAsksFirstAndRemovesOnlyTheChosenBackup)
{
  configure ();
  writeRecord ("Kept", 1000);
  writeRecord ("Chosen", 1000);
  openView ();
  ASSERT_EQ (view->currentBackups ().size (), 2);
  SfBackupInfo *chosen = nullptr;
  for (SfBackupInfo *info : view->currentBackups ())
    if (g_strcmp0 (sf_backup_info_get_name (info), "Chosen") == 0)
      chosen = info;
  ASSERT_NE (chosen, nullptr);

  view->listDeleteRequested (chosen);
  RestoreDeleteFileQueryDialog *query = visible<RestoreDeleteFileQueryDialog> ();
  ASSERT_NE (query, nullptr);
  EXPECT_TRUE (query->text ().contains ("Chosen")) << qPrintable (query->text ());
  query->button (QDialogButtonBox::No)->click ();
  QCoreApplication::processEvents ();
  EXPECT_TRUE (QDir (cardRoot () + "/.backups/Chosen").exists ());
  EXPECT_EQ (view->currentBackups ().size (), 2);

  QSignalSpy listed (view, &BackupMainView::backupsUpdated);
  view->listDeleteRequested (chosen);
  visible<RestoreDeleteFileQueryDialog> ()->button (QDialogButtonBox::Yes)->click ();
  ASSERT_TRUE (listed.wait (waitMs));
  EXPECT_EQ (listedNames (), QStringList{ "Kept" });
  EXPECT_FALSE (QDir (cardRoot () + "/.backups/Chosen").exists ());
  EXPECT_TRUE (QDir (cardRoot () + "/.backups/Kept").exists ());

  /* Names from the desktop suite never reach above the backups folder. */
  SfTarget *card = view->getDefaultTarget ();
  for (const char *name : { "", ".", "..", "/", "../.backups" })
    EXPECT_FALSE (view->removeBackupFolder (card, name)) << '"' << name << '"';
  EXPECT_TRUE (QDir (cardRoot () + "/.backups/Kept").exists ());
  EXPECT_TRUE (view->removeBackupFolder (card, "Kept"));
  EXPECT_FALSE (QDir (cardRoot () + "/.backups/Kept").exists ());
}

TEST_F (MainView, PackageManagerIsOfferedOnceAfterApplicationsWereRestoredAndCalledOnAccept)
{
  DBusMock packageManager (G_BUS_TYPE_SESSION, "com.korvel.package_manager_ui",
                           "/com/korvel/package_manager_ui", "com.korvel.package_manager_ui");
  packageManager.add_method ("show_restore_page", "", "", "");
  configure ();

  /* Nothing to install when no application list came back. */
  ASSERT_TRUE (sf_utils_write_last_restore (NULL, SF_CATEGORY_CONTACTS, 10));
  openView ();
  EXPECT_EQ (box ("qtn_back_launch_installations"), nullptr);
  delete view;

  ASSERT_TRUE (sf_utils_write_last_restore (NULL, SF_CATEGORY_APPLICATIONS, 10));
  openView ();
  ASSERT_TRUE (QTest::qWaitFor ([this] { return box ("qtn_back_launch_installations"); }));
  box ("qtn_back_launch_installations")->button (QDialogButtonBox::Cancel)->click ();
  QCoreApplication::processEvents ();
  EXPECT_TRUE (view->isVisible ()) << "the ordinary window stays";
  delete view;
  openView ();
  QCoreApplication::processEvents ();
  EXPECT_EQ (box ("qtn_back_launch_installations"), nullptr) << "asked once";
  delete view;

  /* Started only to finish a restore: the question, the hand-over, then the window closes. */
  ASSERT_TRUE (sf_utils_write_last_restore (NULL, SF_CATEGORY_APPLICATIONS, 10));
  view = new BackupMainView (nullptr, true, false);
  view->show ();
  ASSERT_TRUE (QTest::qWaitFor ([this] { return box ("qtn_back_launch_installations"); }));
  EXPECT_TRUE (packageManager.calls ().empty ()) << "only an accepted question calls";
  box ("qtn_back_launch_installations")->button (QDialogButtonBox::Ok)->click ();
  ASSERT_EQ (packageManager.wait_for_calls ("show_restore_page", 1), 1u);
  EXPECT_EQ (packageManager.calls ().size (), 1u) << "the declined question did not call";
  EXPECT_EQ (packageManager.calls ().front ().args, "()");
  ASSERT_TRUE (QTest::qWaitFor ([this] { return !view->isVisible (); }));
}

TEST (InterruptedOperation, IsReportedOnceAndOnlyTheNamedIncompleteBackupIsRemoved)
{
  ensureApplication ();
  DBusMock notifications (G_BUS_TYPE_SESSION, "org.freedesktop.Notifications",
                          "/org/freedesktop/Notifications", "org.freedesktop.Notifications");
  notifications.add_method ("Notify", "susssasa{sv}i", "u", "ret = 1");
  QString backups = QDir::homePath () + "/MyDocs/.backups";
  QDir ().mkpath (backups + "/Backup2");
  QDir ().mkpath (backups + "/Backup3/contacts");
  BackupLastStateInfo lastState;

  BackupMainView::showInterruptedNotificationIfNeeded ();
  lastState.lockBackupInfo ("Backup3");
  BackupMainView::showInterruptedNotificationIfNeeded ();
  ASSERT_EQ (notifications.wait_for_calls ("Notify", 1), 1u) << "nothing to report at first";
  EXPECT_NE (
      notifications.calls ()[0].args.find (qtTrId ("qtn_back_backupinterrupted").toStdString ()),
      std::string::npos)
      << notifications.calls ()[0].args;
  EXPECT_FALSE (QDir (backups + "/Backup3").exists ());
  EXPECT_TRUE (QDir (backups + "/Backup2").exists ());

  /* A marker naming a folder above the backup does not get it removed. */
  for (const char *hostile : { "..", ".", "../.backups" })
    {
      lastState.lockBackupInfo (hostile);
      BackupMainView::showInterruptedNotificationIfNeeded ();
      EXPECT_TRUE (QDir (backups + "/Backup2").exists ()) << hostile;
    }

  lastState.lockRestoreInfo ();
  BackupMainView::showInterruptedNotificationIfNeeded ();
  BackupMainView::showInterruptedNotificationIfNeeded ();
  ASSERT_EQ (notifications.wait_for_calls ("Notify", 5), 5u);
  EXPECT_NE (
      notifications.calls ()[4].args.find (qtTrId ("qtn_back_restoreinterrupted").toStdString ()),
      std::string::npos)
      << notifications.calls ()[4].args;
  /* Reported once: the next report is of a new marker. */
  BackupMainView::showInterruptedNotificationIfNeeded ();
  lastState.lockBackupInfo ("Backup9");
  BackupMainView::showInterruptedNotificationIfNeeded ();
  ASSERT_EQ (notifications.wait_for_calls ("Notify", 6), 6u);
  EXPECT_NE (
      notifications.calls ()[5].args.find (qtTrId ("qtn_back_backupinterrupted").toStdString ()),
      std::string::npos)
      << notifications.calls ()[5].args;
}

TEST_F (MainView, RestoreOfDamagedArchivesNamesThemRemovesNothingAndDoesNotReboot)
{
  ASSERT_EQ (backUpFromTheWindow ("BEGIN:VCARD", "to restore"), 100);
  writeFile (home + "/export/card.vcf", "current card");
  writeFile (home + "/settings.db", "changed since");
  for (const QString &archive :
       QDir (cardRoot () + "/.backups/Backup0").entryList ({ "*.zip" }, QDir::Files))
    writeFile (cardRoot () + "/.backups/Backup0/" + archive, QByteArray (4096, 'x'));

  requestRestore ("Backup0");
  QString text = restoreFailure ();
  EXPECT_TRUE (text.contains (
      "Contacts: "
      + QString (sf_restore_failure_reason_get_message (SF_RESTORE_FAILURE_CORRUPT_BACKUP))))
      << qPrintable (text);
  EXPECT_TRUE (text.contains ("Settings: ")) << qPrintable (text);
  EXPECT_EQ (readFile (home + "/export/card.vcf"), "current card");
  EXPECT_EQ (readFile (home + "/settings.db"), "changed since");
  EXPECT_TRUE (view->isVisible ());
}

TEST_F (MainView, SettingsThatDoNotFitTheirFileSystemStayAndTheDialogSaysSo)
{
  TmpfsMount tmpfs ("8M");
  SKIP_UNLESS_MOUNTED (tmpfs);
  QString settings = QString::fromStdString (tmpfs.path ()) + "/settings.db";
  configurations = std::make_unique<ApplicationConfigurations> ();
  configurations->add ("keeper", "permanent-backup-files", QString (),
                       "<location type=\"permanent-backup-file\" category=\"settings\">" + settings
                           + "</location>");
  configurations->load ();
  QByteArray backedUp = QByteArray::fromStdString (random_bytes (4 * 1000 * 1000, 5));
  writeFile (settings, backedUp);
  openView ();
  startFromSheet ("large settings");
  ASSERT_EQ (finishBackup (), 100);
  QByteArray currentSettings = QByteArray::fromStdString (random_bytes (1000 * 1000, 6));
  writeFile (settings, currentSettings);
  ASSERT_EQ (mount ("tmpfs", tmpfs.path ().c_str (), "tmpfs", MS_REMOUNT, "size=3M,mode=0755"), 0)
      << strerror (errno);

  requestRestore ("Backup0");
  QString text = restoreFailure ();
  EXPECT_TRUE (text.contains (
      "Settings: "
      + QString (sf_restore_failure_reason_get_message (SF_RESTORE_FAILURE_INSUFFICIENT_SPACE))))
      << qPrintable (text);
  EXPECT_TRUE (readFile (settings) == currentSettings) << "the current settings stay";
  delete view;
  view = nullptr;
}

namespace
{
/* The backup folder that disappears once the restore has removed the current files, as when
 * the card is taken out then; set while the handler is installed. */
QString vanishingBackup;
QtMessageHandler previousHandler = nullptr;

void
takeBackupAwayAfterTheRemoval (QtMsgType type, const QMessageLogContext &context,
                               const QString &message)
{
  if (message.contains ("Removing Permanent files") && !vanishingBackup.isEmpty ())
    {
      QDir ().rename (vanishingBackup, vanishingBackup + ".gone");
      vanishingBackup.clear ();
    }
  previousHandler (type, context, message);
}
} // namespace

TEST_F (MainView, BackendRefusingAfterTheChecksShowsTheFailureAndDoesNotReboot)
{
  ASSERT_EQ (backUpFromTheWindow ("BEGIN:VCARD", "to restore"), 100);
  writeFile (home + "/settings.db", "changed since");

  /* Every check passes; the backup is gone when the backend is asked to restore it. */
  const int level = traceLevel;
  traceLevel = 2;
  vanishingBackup = cardRoot () + "/.backups/Backup0";
  previousHandler = qInstallMessageHandler (takeBackupAwayAfterTheRemoval);
  requestRestore ("Backup0");
  QString text = restoreFailure ();
  qInstallMessageHandler (previousHandler);
  traceLevel = level;
  EXPECT_TRUE (vanishingBackup.isEmpty ()) << "the backup was taken away after the checks";
  EXPECT_TRUE (text.contains ("Contacts: ")) << qPrintable (text);
  EXPECT_TRUE (text.contains ("Settings: ")) << qPrintable (text);
  EXPECT_TRUE (view->isVisible ());
  QDir (cardRoot () + "/.backups/Backup0.gone").removeRecursively ();
}

/* The password sheet reads archive headers only: a wrong password whose first block happens to
 * decrypt like an archive's passes it, and only the restore's check of every archive stops it.
 * The sheet's check is made to let the wrong one through here. */
TEST_F (MainView, WrongPasswordPastTheSheetShowsTheFailureRemovesNothingAndDoesNotReboot)
{
  ASSERT_EQ (backUpFromTheWindow ("BEGIN:VCARD secret", "locked", "s3cret"), 100);
  writeFile (home + "/export/card.vcf", "current card");
  writeFile (home + "/settings.db", "changed since");

  requestRestore ("Backup0");
  PasswordQuerySheet *query = visible<PasswordQuerySheet> ();
  ASSERT_NE (query, nullptr);
  query->setPasswordCheck ([] (const QString &) { return true; });
  query->findChild<QLineEdit *> ("passwordField")->setText ("wrong");
  query->acceptButton ()->click ();
  QString text = restoreFailure ();
  EXPECT_TRUE (text.contains ("Contacts: ")) << qPrintable (text);
  EXPECT_TRUE (text.contains ("Settings: ")) << qPrintable (text);
  EXPECT_EQ (readFile (home + "/export/card.vcf"), "current card");
  EXPECT_EQ (readFile (home + "/settings.db"), "changed since");
  EXPECT_TRUE (view->isVisible ());
}
