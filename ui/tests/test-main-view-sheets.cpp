#include "main-view-fixture.h"

#include "sf-category.h"

#include "BackupItemDialog.h"
#include "BackupList.h"
#include "BackupProcessSheet.h"
#include "DBusRequestProcessor.h"
#include "PasswordQuerySheet.h"
#include "RestoreDeleteFileQueryDialog.h"
#include "RestoreProcessSheet.h"

#include <QProcess>

namespace
{
class MainViewSheets : public MainViewFixture
{
protected:
  /* Whether a banner over the window says text, as plain text. */
  bool bannerSays (const QString &text) const
  {
    for (QLabel *banner : view->findChildren<QLabel *> ("tkBanner"))
      if (banner->isVisible () && banner->text () == text && banner->textFormat () == Qt::PlainText)
        return true;
    return false;
  }

  /* Returns once the engine's file monitors have handled every change made so far, and the list
   * loads they asked for are in: a folder made now reaches this monitor after those changes,
   * through the same kernel queue. */
  void drainMonitors ()
  {
    static int round = 0;
    QString base = home + "/monitor-sync";
    QDir ().mkpath (base);
    g_autoptr (GFile) folder = g_file_new_for_path (base.toUtf8 ());
    g_autoptr (GFileMonitor) monitor
        = g_file_monitor_directory (folder, G_FILE_MONITOR_NONE, NULL, NULL);
    bool seen = false;
    g_signal_connect (
        monitor, "changed",
        G_CALLBACK (+[] (GFileMonitor *, GFile *, GFile *, GFileMonitorEvent event, gpointer flag) {
          if (event == G_FILE_MONITOR_EVENT_CREATED)
            *static_cast<bool *> (flag) = true;
        }),
        &seen);
    QDir ().mkdir (base + "/" + QString::number (round++));
    ASSERT_TRUE (QTest::qWaitFor ([&] { return seen; }, waitMs));
    QCoreApplication::processEvents ();
    ASSERT_TRUE (QTest::qWaitFor ([this] { return !view->isListRefreshing (); }, waitMs));
  }
};

/* Counts how often a widget of type T is shown, anywhere in the application. */
template <typename T> class ShowCounter : public QObject
{
public:
  ShowCounter ()
  {
    qApp->installEventFilter (this);
  }
  int count = 0;

protected:
  bool eventFilter (QObject *watched, QEvent *event) override
  {
    if (event->type () == QEvent::Show && qobject_cast<T *> (watched) != nullptr)
      count++;
    return false;
  }
};

/* A tmpfs mounted on a folder inside a backup, which a delete cannot remove; unmounted at the
 * end. Mounting needs root. */
struct MountInside
{
  explicit MountInside (const QString &path)
      : path (path), mounted (QProcess::execute ("mount", { "-t", "tmpfs", "tmpfs", path }) == 0)
  {
  }
  ~MountInside ()
  {
    if (mounted)
      QProcess::execute ("umount", { path });
  }
  QString path;
  bool mounted;
};
} // namespace

TEST_F (MainViewSheets, FinishRestoreInstanceRefusesLaunchesAndSuiteRequests)
{
  configure ();
  view = new BackupMainView (nullptr, true, false);
  view->show ();
  ASSERT_TRUE (QTest::qWaitFor ([this] { return box ("qtn_back_launch_installations"); }));
  auto *launcher = new DBusRequestProcessor (view);
  EXPECT_EQ (launcher->launch ("opennewbackup"), 1);
  EXPECT_EQ (launcher->launch ("main"), 1);
  view->slotDBusOpenNewBackupDialog ();
  view->setupBackupsInfo ();
  QSignalSpy suite (view, &BackupMainView::signalLumoSuiteOperationFinished);
  view->startLumoSuiteBackup (SF_CATEGORY_CONTACTS);
  view->startLumoSuiteRestore (SF_CATEGORY_CONTACTS);
  ASSERT_EQ (suite.count (), 2);
  EXPECT_EQ (suite[0][0].toInt (), 103);
  EXPECT_EQ (suite[1][0].toInt (), 0);
  QCoreApplication::processEvents ();
  EXPECT_EQ (view->findChild<NewBackupDialog *> (), nullptr);
  EXPECT_FALSE (view->isLaunchedFromDBus ());
  EXPECT_NE (box ("qtn_back_launch_installations"), nullptr) << "the one question stays";
}

TEST_F (MainViewSheets, LaunchDuringTheFirstLoadOpensTheNewBackupSheetOnce)
{
  configure ();
  writeRecord ("Kept", 1000);
  ShowCounter<NewBackupDialog> shown;
  view = new BackupMainView (nullptr, false, false);
  view->show ();
  ASSERT_TRUE (view->isListRefreshing ());
  auto *launcher = new DBusRequestProcessor (view);
  EXPECT_EQ (launcher->launch ("opennewbackup"), 0);
  ASSERT_TRUE (QTest::qWaitFor ([this] { return visible<NewBackupDialog> () != nullptr; }, waitMs));
  reload ();
  reload ();
  EXPECT_EQ (shown.count, 1);
  EXPECT_TRUE (visible<NewBackupDialog> ()->isLaunchedFromDBus ());

  /* The sheet comes back after a reload, but not over another sheet the user opened. */
  visible<NewBackupDialog> ()->cancelButton ()->click ();
  waitForListed ("Kept");
  view->listItemTapped (listedBackup ("Kept"));
  ASSERT_NE (visible<BackupItemDialog> (), nullptr);
  reload ();
  QCoreApplication::processEvents ();
  EXPECT_NE (visible<BackupItemDialog> (), nullptr);
  EXPECT_EQ (visible<NewBackupDialog> (), nullptr);
  visible<BackupItemDialog> ()->cancelButton ()->click ();
  reload ();
  ASSERT_TRUE (QTest::qWaitFor ([this] { return visible<NewBackupDialog> () != nullptr; }));
  EXPECT_EQ (shown.count, 2);
}

TEST_F (MainViewSheets, ReloadKeepsSheetsOfListedBackupsAndClosesThoseOfGoneOnes)
{
  configure ();
  writeRecord ("Locked", 1000, true);
  openView ();
  waitForListed ("Locked");
  view->findChild<QPushButton *> ("newBackupButton")->click ();
  NewBackupDialog *sheet = visible<NewBackupDialog> ();
  ASSERT_NE (sheet, nullptr);
  for (const char *field : { "notesField", "passwordField", "confirmField" })
    sheet->findChild<QLineEdit *> (field)->setText ("typed");
  /* A change on the card reloads the list. */
  writeRecord ("Arrived", 1000);
  waitForListed ("Arrived");
  EXPECT_TRUE (sheet->isVisible ());
  for (const char *field : { "notesField", "passwordField", "confirmField" })
    EXPECT_EQ (sheet->findChild<QLineEdit *> (field)->text (), "typed") << field;
  sheet->cancelButton ()->click ();
  QCoreApplication::processEvents ();

  view->listItemTapped (listedBackup ("Arrived"));
  QPointer<BackupItemDialog> item = visible<BackupItemDialog> ();
  ASSERT_FALSE (item.isNull ());
  reload ();
  EXPECT_TRUE (item->isVisible ());
  QDir (cardRoot () + "/.backups/Arrived").removeRecursively ();
  ASSERT_TRUE (QTest::qWaitFor ([&] { return !item->isVisible (); }, waitMs));
  EXPECT_TRUE (bannerSays (qtTrId ("qtn_back_backup_gone").arg ("Arrived")));

  requestRestore ("Locked");
  QPointer<PasswordQuerySheet> query = visible<PasswordQuerySheet> ();
  ASSERT_FALSE (query.isNull ());
  reload ();
  EXPECT_TRUE (query->isVisible ()) << "its backup is still listed";
  QDir (cardRoot () + "/.backups/Locked").removeRecursively ();
  ASSERT_TRUE (QTest::qWaitFor ([&] { return query.isNull () || !query->isVisible (); }, waitMs));
  EXPECT_TRUE (bannerSays (qtTrId ("qtn_back_backup_gone").arg ("Locked")));
  EXPECT_FALSE (view->restoreIsRunning ());
}

TEST_F (MainViewSheets, OneDeleteReloadsOnceAndAFailedOneSaysSo)
{
  configure ();
  writeRecord ("Kept", 1000);
  writeRecord ("Chosen", 1000);
  QString stuck = cardRoot () + "/.backups/Stuck";
  writeRecord ("Stuck", 1000);
  QDir ().mkpath (stuck + "/contacts");
  openView ();
  for (const char *name : { "Kept", "Chosen", "Stuck" })
    waitForListed (name);
  drainMonitors ();

  QSignalSpy listed (view, &BackupMainView::backupsUpdated);
  view->listDeleteRequested (listedBackup ("Chosen"));
  visible<RestoreDeleteFileQueryDialog> ()->button (QDialogButtonBox::Yes)->click ();
  drainMonitors ();
  EXPECT_EQ (listed.count (), 1);
  QStringList names = listedNames ();
  names.sort ();
  EXPECT_EQ (names, (QStringList{ "Kept", "Stuck" }));

  MountInside mount (stuck + "/contacts");
  if (!mount.mounted)
    GTEST_SKIP () << "cannot mount a tmpfs inside the backup";
  view->listDeleteRequested (listedBackup ("Stuck"));
  visible<RestoreDeleteFileQueryDialog> ()->button (QDialogButtonBox::Yes)->click ();
  EXPECT_TRUE (bannerSays (qtTrId ("qtn_back_delete_failed").arg ("Stuck")));
  EXPECT_TRUE (QDir (stuck).exists ());
}

TEST_F (MainViewSheets, PcConnectionIsTheUsbModeElseTheSuiteMarker)
{
  configure ();
  openView ();
  QString marker = home + "/.deskmate";
  for (const char *mode : { "charging_only", "lumo_suite", "mass_storage" })
    {
      setUsbMode (mode, mode);
      waitForUsbState (mode);
      for (bool suite : { false, true })
        {
          if (suite)
            QFile (marker).open (QIODevice::WriteOnly);
          else
            QFile::remove (marker);
          EXPECT_EQ (view->isConnectedToPC (), suite || strcmp (mode, "charging_only") != 0)
              << mode << (suite ? " with" : " without") << " the suite's marker";
        }
    }
  QFile::remove (marker);
  setUsbMode ("charging_only", "USB disconnected");
  waitForUsbState ("USB disconnected");
}

TEST_F (MainViewSheets, RunningOperationsKeepTheirSheetsAndRefuseWhatWouldDisturbThem)
{
  /* The contacts application takes six seconds: time for all that is asked of the backup sheet. */
  DBusMock exporter (G_BUS_TYPE_SESSION, "com.test.exporter", "/exporter",
                     "com.korvel.backupclient");
  exporter.add_method ("backup", "as", "y", "time.sleep(6)\nret = dbus.Byte(0)");
  configure ("com.test.exporter");
  writeFile (home + "/settings.db", "settings");
  openView ();
  auto *launcher = new DBusRequestProcessor (view);

  startFromSheet ("cancelled at the second asking");
  ASSERT_TRUE (QTest::qWaitFor ([this] { return visible<BackupProcessSheet> () != nullptr; }));
  QPointer<BackupProcessSheet> sheet = visible<BackupProcessSheet> ();
  QTest::keyClick (sheet, Qt::Key_Escape);
  sheet->close ();
  EXPECT_TRUE (sheet->isVisible ());
  EXPECT_EQ (launcher->launch ("opennewbackup"), 1);
  EXPECT_FALSE (view->isLaunchedFromDBus ());

  sheet->cancelButton ()->click ();
  ASSERT_TRUE (QTest::qWaitFor ([this] { return box ("qtn_back_cancel_backup"); }));
  box ("qtn_back_cancel_backup")->button (QDialogButtonBox::Cancel)->click ();
  QCoreApplication::processEvents ();
  EXPECT_TRUE (sheet->cancelButton ()->isEnabled ());
  EXPECT_EQ (sheet->label (), qtTrId ("qtn_back_creatingbackup"));
  sheet->cancelButton ()->click ();
  ASSERT_TRUE (QTest::qWaitFor ([this] { return box ("qtn_back_cancel_backup"); }));
  box ("qtn_back_cancel_backup")->button (QDialogButtonBox::Ok)->click ();
  ASSERT_TRUE (QTest::qWaitFor ([&] { return sheet.isNull () || sheet->isCancelling (); }));
  EXPECT_EQ (finishBackup (), 101);
  EXPECT_TRUE (view->isVisible ()) << "the user's own backup ends on the list";
  /* The cancelled folder was listed while it was written; its removal reaches the list through
   * the file monitor, possibly after the finish. */
  EXPECT_TRUE (QTest::qWaitFor (
      [this] { return currentView ()->objectName () == "emptyStateLabel"; }, waitMs));

  writeRecord ("Old", 1000);
  waitForListed ("Old");
  view->setUnitTestMode (true);
  requestRestore ("Old");
  QPointer<RestoreProcessSheet> restoring = visible<RestoreProcessSheet> ();
  ASSERT_FALSE (restoring.isNull ());
  QTest::keyClick (restoring, Qt::Key_Escape);
  restoring->close ();
  EXPECT_TRUE (restoring->isVisible ());
  EXPECT_FALSE (view->findChild<BackupList *> ()->isEnabled ());
  view->listDeleteRequested (listedBackup ("Old"));
  EXPECT_EQ (visible<RestoreDeleteFileQueryDialog> (), nullptr);
  ASSERT_TRUE (QTest::qWaitFor ([&] { return restoring.isNull (); }, waitMs));
  EXPECT_TRUE (QDir (cardRoot () + "/.backups/Old").exists ());
}

TEST_F (MainViewSheets, NamesFromTheCardAreShownAsPlainTextAndElidedToTheScreen)
{
  /* A folder name cannot hold a slash; the entity stands for one in rich text. */
  const QString hostile = "<b>x<img src=&#47;tmp&#47;p.png>";
  const QString longName (240, QLatin1Char ('W'));
  configure ();
  writeRecord (hostile, 1000);
  writeRecord (longName, 1000);
  openView ();
  waitForListed (hostile);
  waitForListed (longName);
  auto *list = view->findChild<BackupList *> ();
  /* Lays the new cells out. */
  QCoreApplication::processEvents ();
  QStringList titles;
  for (QLabel *title : list->findChildren<QLabel *> ("title"))
    {
      EXPECT_EQ (title->textFormat (), Qt::PlainText);
      EXPECT_LE (title->width (), list->width ());
      titles << title->text ();
    }
  EXPECT_TRUE (titles.contains (hostile)) << qPrintable (titles.join (" | "));
  EXPECT_TRUE (titles.contains (longName));

  view->listItemTapped (listedBackup (hostile));
  BackupItemDialog *item = visible<BackupItemDialog> ();
  ASSERT_NE (item, nullptr);
  EXPECT_EQ (item->findChild<QLabel *> ("nameLabel")->text (), hostile);
  EXPECT_EQ (item->findChild<QLabel *> ("nameLabel")->textFormat (), Qt::PlainText);
  item->findChild<QPushButton *> ("deleteButton")->click ();
  RestoreDeleteFileQueryDialog *query = visible<RestoreDeleteFileQueryDialog> ();
  ASSERT_NE (query, nullptr);
  QLabel *text = nullptr;
  for (QLabel *label : query->findChildren<QLabel *> ())
    if (label->text () == query->text ())
      text = label;
  ASSERT_NE (text, nullptr);
  EXPECT_TRUE (text->text ().contains (hostile)) << qPrintable (text->text ());
  EXPECT_EQ (text->textFormat (), Qt::PlainText);
  query->button (QDialogButtonBox::No)->click ();
  item->cancelButton ()->click ();

  view->listItemTapped (listedBackup (longName));
  item = visible<BackupItemDialog> ();
  ASSERT_NE (item, nullptr);
  EXPECT_EQ (item->width (), TkApplicationWindow::phoneSize ().width ());
  for (const char *name : { "restoreButton", "deleteButton" })
    {
      QPushButton *button = item->findChild<QPushButton *> (name);
      EXPECT_LE (button->mapTo (item, QPoint (button->width (), 0)).x (), item->width ()) << name;
    }
  EXPECT_EQ (item->findChild<QLabel *> ("nameLabel")->text (), longName);
}
