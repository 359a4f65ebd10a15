#pragma once

#include "dbus-mock.h"
#include "tmpfs-mount.h"
#include "ui-test-support.h"

#include "sf-backup-info.h"
#include "sf-target-manager.h"

#include "BackupEngine.h"
#include "BackupMainView.h"
#include "BackupRestoreUtils.h"
#include "NewBackupDialog.h"
#include "StartRestoreQueryDialog.h"
#include "TkMessageBox.h"
#include "Tracing.h"
#include "UsbModeWatcher.h"
#include "offscreen-application.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>

#include <memory>

/* The program's main window on a real backend whose target manager knows one fake memory card
 * (a tmpfs of its own where mounting is allowed, so that its free space holds still), with the
 * platform's USB mode daemon, device state service and battery mocked on the private system
 * bus. The applications: an export area of contacts and a settings database read in place. */
class MainViewFixture : public testing::Test
{
protected:
  static constexpr guint32 discharging = 2;
  static constexpr int waitMs = 60000;

  static QString cardRoot ()
  {
    static QString root = [] {
      static TmpfsMount tmpfs ("64M");
      QString path = tmpfs.mounted () ? QString::fromStdString (tmpfs.path ())
                                      : QDir::homePath () + "/fake-cards/card";
      QDir ().mkpath (path);
      QFile (path + "/mounted").open (QIODevice::WriteOnly);
      QFileInfo info (path);
      qputenv ("FAKE_MMC_DIR", info.path ().toUtf8 ());
      return info.filePath ();
    }();
    return root;
  }

  static bool cardIsOwnFileSystem ()
  {
    return !cardRoot ().startsWith (QDir::homePath ());
  }

  void SetUp () override
  {
    static int tracing = initTracing ();
    Q_UNUSED (tracing);
    ensureApplication ();
    QApplication::setQuitOnLastWindowClosed (false);
    QLocale::setDefault (QLocale (QLocale::English, QLocale::UnitedStates));
    home = QDir::homePath ();
    cardRoot ();
    usb = std::make_unique<DBusMock> (G_BUS_TYPE_SYSTEM, "com.tessel.cablemon",
                                      "/com/tessel/cablemon", "com.tessel.cablemon");
    setUsbMode ("charging_only", nullptr);
    vigil = std::make_unique<DBusMock> (G_BUS_TYPE_SYSTEM, "com.korvel.vigil",
                                        "/com/korvel/vigil/request", "com.korvel.vigil.request");
    vigil->add_method ("req_reboot", "", "", "");
    upower.reset (DBusMock::from_template (G_BUS_TYPE_SYSTEM, "upower", "org.freedesktop.UPower",
                                           "/org/freedesktop/UPower"));
    setBattery (80.0);
  }

  void TearDown () override
  {
    delete view;
    view = nullptr;
    configurations.reset ();
    emptyBackups (cardRoot ());
    QDir (home + "/export").removeRecursively ();
    QFile::remove (home + "/settings.db");
  }

  /* Removes every backup on the memory at root and waits until its target lists none, so that
   * the next test starts from an empty memory. The backups folder stays, as on a real memory: one
   * removed whole leaves its monitor waiting for it to come back, and a list read meanwhile would
   * keep backups that are gone. */
  static void emptyBackups (const QString &root)
  {
    QDir backups (root + "/.backups");
    const QFileInfoList entries = backups.entryInfoList (QDir::AllEntries | QDir::Hidden
                                                         | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries)
      if (entry.isDir () && !entry.isSymLink ())
        QDir (entry.filePath ()).removeRecursively ();
      else
        QFile::remove (entry.filePath ());
    g_autoptr (GFile) folder = g_file_new_for_path (backups.absolutePath ().toUtf8 ().constData ());
    for (GList *link = sf_target_manager_get_targets (sf_target_manager_get ()); link != NULL;
         link = link->next)
      {
        SfTarget *target = SF_TARGET (link->data);
        g_autofree gchar *uri = sf_target_dup_backups_uri (target);
        g_autoptr (GFile) location = g_file_new_for_uri (uri);
        if (!g_file_equal (location, folder))
          continue;
        EXPECT_TRUE (
            QTest::qWaitFor ([target] { return sf_target_get_backups (target) == NULL; }, waitMs))
            << "the monitors of " << qPrintable (root) << " did not report the removals";
      }
  }

  /* exportService empty: the contacts application is not told over D-Bus. */
  void configure (const QString &exportService = QString ())
  {
    configurations = std::make_unique<ApplicationConfigurations> ();
    configurations->add (
        "exporter", exportService.isEmpty () ? "permanent-backup-files" : "backup-dbus",
        exportService, "<location type=\"dir\" category=\"contacts\">$HOME/export</location>");
    configurations->add ("keeper", "permanent-backup-files", QString (),
                         "<location type=\"permanent-backup-file\" category=\"settings\">"
                         "$HOME/settings.db</location>");
    configurations->load ();
  }

  void setBattery (double percentage)
  {
    upower->call_mock ("SetupDisplayDevice",
                       g_variant_new ("(uuddddxxbsu)", 2u, discharging, percentage, 10.0, 50.0, 1.0,
                                      (gint64)3600, (gint64)0, TRUE, "battery", 1u));
  }

  /* What the daemon answers from now on; state (when given) is signalled as a change. */
  void setUsbMode (const char *mode, const char *state)
  {
    usb->add_method ("mode_request", "", "s", std::string ("ret = '") + mode + "'");
    if (state != nullptr)
      usb->emit_signal ("sig_usb_state_ind", "s", g_variant_new ("(s)", state));
  }

  /* Opens the window and waits for its first list. */
  void openView ()
  {
    view = new BackupMainView (nullptr, false, false);
    view->show ();
    ASSERT_TRUE (QTest::qWaitFor ([this] { return !view->isListRefreshing (); }, waitMs));
  }

  QWidget *currentView () const
  {
    return view->findChild<QStackedWidget *> ("views")->currentWidget ();
  }

  template <typename T> T *visible (const QString &name = QString ()) const
  {
    for (T *widget : view->findChildren<T *> (name))
      if (widget->isVisible ())
        return widget;
    return nullptr;
  }

  /* A visible message box whose text is the translation of id. */
  TkMessageBox *box (const char *id) const
  {
    for (TkMessageBox *candidate : view->findChildren<TkMessageBox *> ())
      if (candidate->isVisible () && candidate->text () == qtTrId (id))
        return candidate;
    return nullptr;
  }

  /* Fills in the new-backup sheet opened by the window's button and starts. */
  void startFromSheet (const QString &notes, const QString &password = QString ())
  {
    previousEngine = view->findChild<BackupEngine *> ();
    view->findChild<QPushButton *> ("newBackupButton")->click ();
    NewBackupDialog *sheet = visible<NewBackupDialog> ();
    ASSERT_NE (sheet, nullptr);
    sheet->findChild<QLineEdit *> ("notesField")->setText (notes);
    sheet->findChild<QLineEdit *> ("passwordField")->setText (password);
    sheet->findChild<QLineEdit *> ("confirmField")->setText (password);
    sheet->acceptButton ()->click ();
  }

  /* Waits for the backup started from the sheet to end and for the list that follows; returns
   * its status, -1 when it did not end. */
  int finishBackup ()
  {
    QSignalSpy listed (view, &BackupMainView::backupsUpdated);
    if (!QTest::qWaitFor ([this] {
          return previousEngine.isNull () && view->findChild<BackupEngine *> () != nullptr;
        }))
      return -1;
    QSignalSpy finished (view->findChild<BackupEngine *> (), &BackupEngine::backupEngineFinished);
    if (!finished.wait (waitMs))
      return -1;
    if (!view->isVisible ())
      return finished[0][0].toInt ();
    if (listed.isEmpty () && !listed.wait (waitMs))
      return -1;
    return finished[0][0].toInt ();
  }

  static void writeFile (const QString &path, const QByteArray &content)
  {
    QDir ().mkpath (QFileInfo (path).path ());
    QFile file (path);
    ASSERT_TRUE (file.open (QIODevice::WriteOnly | QIODevice::Truncate));
    file.write (content);
  }

  static QByteArray readFile (const QString &path)
  {
    QFile file (path);
    return file.open (QIODevice::ReadOnly) ? file.readAll () : QByteArray ("<missing>");
  }

  /* The listed backup named name, or null. */
  SfBackupInfo *listedBackup (const QString &name) const
  {
    for (SfBackupInfo *info : view->currentBackups ())
      if (QString::fromUtf8 (sf_backup_info_get_name (info)) == name)
        return info;
    return nullptr;
  }

  /* Waits until the list shows the backup named name: the card's monitors may report a record
   * written just now after a load that missed it. */
  void waitForListed (const QString &name)
  {
    ASSERT_TRUE (QTest::qWaitFor (
        [&] { return listedBackup (name) != nullptr && !view->isListRefreshing (); }, waitMs))
        << qPrintable (name);
  }

  /* Asks for a restore of the listed backup named name from the list's object menu and says yes. */
  void requestRestore (const char *name)
  {
    SfBackupInfo *info = listedBackup (QString::fromUtf8 (name));
    ASSERT_NE (info, nullptr) << name << " is not listed";
    view->listRestoreRequested (info);
    StartRestoreQueryDialog *query = visible<StartRestoreQueryDialog> ();
    ASSERT_NE (query, nullptr);
    query->button (QDialogButtonBox::Yes)->click ();
  }

  /* Waits for the USB watcher to have seen state. */
  void waitForUsbState (const char *state)
  {
    UsbModeWatcher *watcher = view->findChild<UsbModeWatcher *> ();
    ASSERT_NE (watcher, nullptr);
    ASSERT_TRUE (QTest::qWaitFor ([&] { return watcher->lastSignalledState () == state; }));
    QCoreApplication::processEvents ();
  }

  /* Writes a backup record named name whose categories add up to size bytes; the card's free
   * space is read after the record exists and returned. */
  quint64 writeRecord (const QString &name, quint64 size, bool isProtected = false)
  {
    QDir ().mkpath (cardRoot () + "/.backups");
    g_autoptr (GFile) directory
        = g_file_new_for_path ((cardRoot () + "/.backups/" + name).toUtf8 ().constData ());
    g_autoptr (SfBackupInfo) info = sf_backup_info_new (
        directory, 1000, isProtected, NULL, "1", "", SF_BACKUP_INFO_FORMAT, SF_CATEGORY_CONTACTS);
    EXPECT_EQ (sf_backup_info_create_dir (info), nullptr);
    sf_backup_info_set_data_amount (info, SF_CATEGORY_CONTACTS, size, 1);
    EXPECT_EQ (sf_backup_info_write_metadata (info), nullptr);
    return sf_target_calculate_free_space (
        SF_TARGET (sf_target_manager_get_targets (sf_target_manager_get ())->data));
  }

  /* Reloads the list and waits for it. */
  void reload ()
  {
    QSignalSpy listed (view, &BackupMainView::backupsUpdated);
    view->setupBackupsInfo ();
    ASSERT_TRUE (listed.wait (waitMs));
  }

  QStringList listedNames () const
  {
    QStringList names;
    for (SfBackupInfo *info : view->currentBackups ())
      names << QString::fromUtf8 (sf_backup_info_get_name (info));
    return names;
  }

  QString home;
  std::unique_ptr<ApplicationConfigurations> configurations;
  std::unique_ptr<DBusMock> usb;
  std::unique_ptr<DBusMock> vigil;
  std::unique_ptr<DBusMock> upower;
  BackupMainView *view = nullptr;
  /* The engine of the last backup, deleted when the next one starts. */
  QPointer<BackupEngine> previousEngine;
};
