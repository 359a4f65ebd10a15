#include "sf-backup-info.h"
#include "sf-error.h"

#include "AnimationPageSheet.h"
#include "BackupItemDialog.h"
#include "BackupList.h"
#include "BackupMessageBoxes.h"
#include "BackupProcessSheet.h"
#include "NewBackupDialog.h"
#include "PasswordQuerySheet.h"
#include "RestoreDeleteFileQueryDialog.h"
#include "RestoreProcessSheet.h"
#include "SSUBackupFinishedView.h"
#include "StartRestoreQueryDialog.h"
#include "TkBanner.h"
#include "TkApplicationWindow.h"
#include "TkElidedLabel.h"
#include "TkList.h"
#include "TkLockIcon.h"
#include "offscreen-application.h"

#include <QContextMenuEvent>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>
#include <QTextEdit>
#include <gtest/gtest.h>

namespace
{
/* Stands in for the main view: the parent of the dialogs and the emitter of the close rule. */
class MainView : public QWidget
{
  Q_OBJECT

Q_SIGNALS:
  void signalCloseAllSubWindows ();
};

/* A backup record of the given name; the caller owns the reference. */
SfBackupInfo *
makeInfo (const char *name, gint32 timestamp)
{
  g_autofree gchar *path = g_build_filename (g_get_home_dir (), name, NULL);
  g_autoptr (GFile) directory = g_file_new_for_path (path);
  SfBackupInfo *info = sf_backup_info_new (directory, timestamp, FALSE, NULL, "1.0", "notes",
                                           SF_BACKUP_INFO_FORMAT, SF_CATEGORY_CONTACTS);
  sf_backup_info_set_data_amount (info, SF_CATEGORY_CONTACTS, 10 * 1024 * 1024, 3);
  return info;
}

/* A protected backup record carrying notes; the caller owns the reference. */
SfBackupInfo *
makeNotedInfo (const char *name, const char *notes)
{
  g_autofree gchar *path = g_build_filename (g_get_home_dir (), name, NULL);
  g_autoptr (GFile) directory = g_file_new_for_path (path);
  return sf_backup_info_new (directory, 1700000000, TRUE, NULL, "1.0", notes, SF_BACKUP_INFO_FORMAT,
                             SF_CATEGORY_CONTACTS);
}

/* How many pixels of widget differ from its top-left pixel, as it paints itself. */
int
paintedPixels (QWidget *widget)
{
  QImage image = widget->grab ().toImage ();
  int painted = 0;
  for (int y = 0; y < image.height (); y++)
    for (int x = 0; x < image.width (); x++)
      painted += image.pixel (x, y) != image.pixel (0, 0);
  return painted;
}

template <typename T>
T *
openDialog (QWidget &mainView)
{
  QList<T *> dialogs = mainView.findChildren<T *> ();
  for (T *dialog : dialogs)
    if (dialog->isVisible ())
      return dialog;
  return nullptr;
}

void
deleteClosed ()
{
  QCoreApplication::sendPostedEvents (nullptr, QEvent::DeferredDelete);
}

QString
labelText (QWidget *parent, const char *name)
{
  auto *label = parent->findChild<QLabel *> (QLatin1String (name));
  return label != nullptr ? label->text () : QString ();
}
} // namespace

TEST (Dialogs, CloseAllSubWindowsRejectsEveryOpenDialogButTheInstallationsQuery)
{
  ensureApplication ();
  MainView mainView;
  /* Message boxes are drawn inside the window: they are seen only while it is. */
  mainView.show ();
  SfBackupInfo *info = makeInfo ("Backup0", 1700000000);
  QList<QPointer<QDialog>> closed = {
    BackupMessageBoxes::cancelBackupQuery (&mainView),
    BackupMessageBoxes::lowBatteryBackupQuery (&mainView),
    BackupMessageBoxes::lowBatteryRestoreQuery (&mainView),
    BackupMessageBoxes::cancelAndCloseQuery (&mainView),
    BackupMessageBoxes::operationInterruptedDialog (&mainView, QStringLiteral ("t"), 103),
    new StartRestoreQueryDialog (&mainView),
    new RestoreDeleteFileQueryDialog (QStringLiteral ("Backup0"), 1700000000, &mainView),
    new NewBackupDialog (&mainView),
    new BackupItemDialog (info, &mainView),
    new PasswordQuerySheet (info, &mainView),
  };
  QPointer<QDialog> kept = BackupMessageBoxes::launchInstallationsQuery (&mainView);
  QList<QSignalSpy *> rejections;
  for (QDialog *dialog : closed)
    {
      rejections.append (new QSignalSpy (dialog, &QDialog::rejected));
      dialog->show ();
    }
  kept->show ();
  sf_backup_info_unref (info);

  Q_EMIT mainView.signalCloseAllSubWindows ();
  for (int i = 0; i < closed.size (); i++)
    {
      EXPECT_EQ (rejections.at (i)->count (), 1) << "dialog " << i;
      if (closed.at (i) != nullptr)
        {
          EXPECT_FALSE (closed.at (i)->isVisible ()) << "dialog " << i;
        }
    }
  qDeleteAll (rejections);
  deleteClosed ();
  /* The message boxes go away by themselves once closed. */
  for (int i = 0; i < 6; i++)
    EXPECT_TRUE (closed.at (i).isNull ()) << "dialog " << i;
  ASSERT_FALSE (kept.isNull ());
  EXPECT_TRUE (kept->isVisible ());
}

TEST (Dialogs, QueriesSayWhatTheyAsk)
{
  ensureApplication ();
  MainView mainView;
  auto text = [&] (int status, int errorCode = -1) {
    TkMessageBox *box = BackupMessageBoxes::operationInterruptedDialog (
        &mainView, QStringLiteral ("t"), status, errorCode);
    QString result = box->text ();
    delete box;
    return result;
  };
  EXPECT_EQ (text (201), qtTrId ("qtn_back_devicememfullrestore"));
  EXPECT_EQ (text (102), qtTrId ("qtn_back_devicememfullbackup"));
  EXPECT_EQ (text (103), qtTrId ("qtn_back_backupinterrupted"));
  EXPECT_EQ (text (200), qtTrId ("qtn_back_backupinterrupted"));
  EXPECT_EQ (text (103, SF_ERROR_BACKUP_FILE_TOO_LARGE), qtTrId ("qtn_back_file_too_large"));
  EXPECT_EQ (text (103, SF_ERROR_BACKUP_READ_ONLY), qtTrId ("qtn_back_memory_read_only"));
  EXPECT_EQ (text (103, SF_ERROR_BACKUP_FAILED), qtTrId ("qtn_back_backupinterrupted"));
  EXPECT_EQ (text (102, SF_ERROR_BACKUP_FILE_TOO_LARGE), qtTrId ("qtn_back_devicememfullbackup"));

  /* One wording: Yes / No, or buttons that say what they do. */
  TkMessageBox *battery = BackupMessageBoxes::lowBatteryBackupQuery (&mainView);
  EXPECT_EQ (battery->button (QDialogButtonBox::Ok)->text (), "Yes");
  EXPECT_EQ (battery->button (QDialogButtonBox::Cancel)->text (), "No");
  delete battery;
  StartRestoreQueryDialog *restore = new StartRestoreQueryDialog (&mainView, "Backup3");
  EXPECT_EQ (restore->title (), "Restore Backup3?");
  delete restore;

  TkMessageBox *cancel = BackupMessageBoxes::cancelBackupQuery (&mainView);
  EXPECT_TRUE (cancel->title ().isEmpty ());
  EXPECT_EQ (cancel->button (QDialogButtonBox::Ok)->text (), "Stop backup");
  EXPECT_EQ (cancel->button (QDialogButtonBox::Cancel)->text (), "Continue");
  QSignalSpy finished (cancel, &QDialog::finished);
  cancel->appear ();
  cancel->button (QDialogButtonBox::Ok)->click ();
  ASSERT_EQ (finished.count (), 1);
  EXPECT_EQ (finished.at (0).at (0).toInt (), 1024);

  QDateTime made = QDateTime::fromSecsSinceEpoch (1700000000);
  RestoreDeleteFileQueryDialog remove (QStringLiteral ("Backup7"), 1700000000, &mainView);
  EXPECT_EQ (remove.text (), qtTrId ("qtn_back_deletethisbackup")
                                 .arg (QStringLiteral ("Backup7"),
                                       QLocale ().toString (made.date (), QLocale::ShortFormat),
                                       QLocale ().toString (made.time (), QLocale::ShortFormat)));
}

TEST (NewBackupDialog, StartsWithTrimmedCappedNotesAndMatchingPasswords)
{
  ensureApplication ();
  MainView mainView;
  NewBackupDialog dialog (&mainView);
  QSignalSpy closed (&dialog, &NewBackupDialog::signalCloseNewBackupDialog);
  auto *notes = dialog.findChild<QLineEdit *> (QStringLiteral ("notesField"));
  auto *password = dialog.findChild<QLineEdit *> (QStringLiteral ("passwordField"));
  auto *confirm = dialog.findChild<QLineEdit *> (QStringLiteral ("confirmField"));
  ASSERT_TRUE (notes && password && confirm);

  dialog.appear ();
  notes->setText (QStringLiteral ("   before the trip  "));
  QTest::keyClick (notes, Qt::Key_Return);
  ASSERT_EQ (closed.count (), 1);
  EXPECT_EQ (closed.at (0).at (0).toInt (), int (QDialog::Accepted));
  EXPECT_EQ (dialog.notes (), QStringLiteral ("before the trip"));
  EXPECT_TRUE (dialog.password ().isEmpty ());
  EXPECT_FALSE (dialog.isVisible ());

  dialog.clearFields ();
  dialog.appear ();
  notes->setText (QString (300, QLatin1Char ('n')));
  password->setText (QStringLiteral ("secret"));
  confirm->setText (QStringLiteral ("secrets"));
  dialog.acceptButton ()->click ();
  EXPECT_EQ (closed.count (), 1);
  EXPECT_TRUE (dialog.isVisible ());
  EXPECT_EQ (labelText (&dialog, "tkInlineMessage"), qtTrId ("qtn_back_passwords_differ"));

  confirm->setText (QStringLiteral ("secret"));
  dialog.acceptButton ()->click ();
  ASSERT_EQ (closed.count (), 2);
  EXPECT_EQ (dialog.notes ().size (), NewBackupDialog::maxNotesLength);
  EXPECT_EQ (dialog.password (), QStringLiteral ("secret"));
  /* The password does not linger in the sheet. */
  EXPECT_TRUE (password->text ().isEmpty ());

  /* Cancel answers from the event loop. */
  dialog.appear ();
  dialog.cancelButton ()->click ();
  EXPECT_EQ (closed.count (), 2);
  ASSERT_TRUE (closed.wait (5000));
  EXPECT_EQ (closed.at (2).at (0).toInt (), int (QDialog::Rejected));
  EXPECT_FALSE (dialog.isVisible ());
}

TEST (NewBackupDialog, RefusesToStartWhileThePcSuiteIsConnected)
{
  ensureApplication ();
  MainView mainView;
  NewBackupDialog dialog (&mainView);
  QSignalSpy closed (&dialog, &NewBackupDialog::signalCloseNewBackupDialog);
  QFile marker (QDir::homePath () + QStringLiteral ("/.deskmate"));
  ASSERT_TRUE (marker.open (QIODevice::WriteOnly));
  marker.close ();

  dialog.appear ();
  dialog.acceptButton ()->click ();
  EXPECT_EQ (closed.count (), 0);
  EXPECT_TRUE (dialog.isVisible ());
  QList<TkBanner *> banners = dialog.findChildren<TkBanner *> ();
  ASSERT_EQ (banners.size (), 1);
  EXPECT_EQ (banners.at (0)->text (), qtTrId ("qtn_back_backupinterrupted_lumo"));

  ASSERT_TRUE (marker.remove ());
  dialog.acceptButton ()->click ();
  EXPECT_EQ (closed.count (), 1);
}

TEST (BackupItemDialog, ConfirmedChoicesAreEmittedAndCancelClosesQuietly)
{
  ensureApplication ();
  MainView mainView;
  SfBackupInfo *info = makeInfo ("Backup3", 1700000000);
  BackupItemDialog dialog (info, &mainView);
  QSignalSpy restore (&dialog, &BackupItemDialog::onRestoreConfirmed);
  QSignalSpy remove (&dialog, &BackupItemDialog::onDeleteConfirmed);
  EXPECT_EQ (labelText (&dialog, "nameLabel"), QStringLiteral ("Backup3"));
  EXPECT_EQ (labelText (&dialog, "sizeLabel"),
             qtTrId ("qtn_comm_kilobytes").arg (QLocale ().toString (10240)));
  EXPECT_EQ (dialog.findChild<QLabel *> (QStringLiteral ("restoredLabel")), nullptr);

  dialog.appear ();
  dialog.findChild<QPushButton *> (QStringLiteral ("deleteButton"))->click ();
  auto *deleteQuery = openDialog<RestoreDeleteFileQueryDialog> (mainView);
  ASSERT_NE (deleteQuery, nullptr);
  deleteQuery->button (QDialogButtonBox::No)->click ();
  EXPECT_EQ (remove.count (), 0);
  EXPECT_TRUE (dialog.isVisible ());

  dialog.findChild<QPushButton *> (QStringLiteral ("restoreButton"))->click ();
  auto *restoreQuery = openDialog<StartRestoreQueryDialog> (mainView);
  ASSERT_NE (restoreQuery, nullptr);
  restoreQuery->button (QDialogButtonBox::Yes)->click ();
  EXPECT_EQ (restore.count (), 1);
  EXPECT_EQ (remove.count (), 0);
  EXPECT_FALSE (dialog.isVisible ());

  dialog.appear ();
  dialog.findChild<QPushButton *> (QStringLiteral ("deleteButton"))->click ();
  openDialog<RestoreDeleteFileQueryDialog> (mainView)->button (QDialogButtonBox::Yes)->click ();
  EXPECT_EQ (remove.count (), 1);

  dialog.appear ();
  dialog.cancelButton ()->click ();
  EXPECT_FALSE (dialog.isVisible ());
  EXPECT_EQ (restore.count (), 1);
  EXPECT_EQ (remove.count (), 1);

  sf_backup_info_set_time_for_restoration (info, 1700003600);
  BackupItemDialog restored (info, &mainView);
  EXPECT_EQ (labelText (&restored, "restoredLabel"),
             qtTrId ("qtn_back_usedforrestore")
                 .arg (QLocale ().toString (QDateTime::fromSecsSinceEpoch (1700003600),
                                            QLocale::ShortFormat)));
  sf_backup_info_unref (info);
}

TEST (BackupList, TapsAndObjectMenuNameTheirBackup)
{
  ensureApplication ();
  MainView mainView;
  SfBackupInfo *first = makeInfo ("Backup0", 1700000000);
  SfBackupInfo *second = makeInfo ("Backup1", 1700086400);
  BackupList list (&mainView);
  QObject::connect (&mainView, &MainView::signalCloseAllSubWindows, &list,
                    &BackupList::slotCloseAllSubviewsSignalReceived);
  list.setBackups ({ first, second });
  list.resize (480, 700);
  mainView.show ();
  ASSERT_TRUE (QTest::qWaitForWindowExposed (&mainView));
  auto *tkList = list.findChild<TkList *> ();
  QSignalSpy tapped (&list, &BackupList::itemTapped);
  QSignalSpy deleted (&list, &BackupList::deleteRequested);
  QSignalSpy restored (&list, &BackupList::restoreRequested);

  EXPECT_EQ (labelText (tkList->cell (1), "title"), QStringLiteral ("Backup1"));
  QTest::mouseClick (tkList->cell (1), Qt::LeftButton);
  ASSERT_EQ (tapped.count (), 1);
  EXPECT_EQ (tapped.at (0).at (0).value<void *> (), (void *)second);

  /* Rows the list does not have are ignored. */
  Q_EMIT tkList->itemClicked (2);
  Q_EMIT tkList->itemLongTapped (-1, QPoint ());
  EXPECT_EQ (tapped.count (), 1);
  EXPECT_EQ (list.findChildren<QMenu *> ().size (), 0);

  auto openMenu = [&] () {
    QContextMenuEvent event (QContextMenuEvent::Mouse, QPoint (5, 5), QPoint (40, 40));
    QCoreApplication::sendEvent (tkList->cell (0), &event);
    QMenu *menu = list.findChild<QMenu *> ();
    return menu;
  };
  QMenu *menu = openMenu ();
  ASSERT_NE (menu, nullptr);
  ASSERT_EQ (menu->actions ().size (), 2);
  EXPECT_EQ (menu->actions ().at (0)->text (), qtTrId ("qtn_back_omdelete"));
  menu->actions ().at (0)->trigger ();
  menu->actions ().at (1)->trigger ();
  ASSERT_EQ (deleted.count (), 1);
  EXPECT_EQ (deleted.at (0).at (0).value<void *> (), (void *)first);
  ASSERT_EQ (restored.count (), 1);
  EXPECT_EQ (restored.at (0).at (0).value<void *> (), (void *)first);

  QPointer<QMenu> open = menu;
  Q_EMIT mainView.signalCloseAllSubWindows ();
  deleteClosed ();
  EXPECT_TRUE (open.isNull ());

  list.setItemProgress (second, 40);
  auto bar = [&] (int row) { return tkList->cell (row)->findChild<QProgressBar *> (); };
  EXPECT_FALSE (bar (0)->isVisible ());
  EXPECT_TRUE (bar (1)->isVisible ());
  EXPECT_EQ (bar (1)->value (), 40);
  list.setItemProgress (second, -1);
  EXPECT_FALSE (bar (1)->isVisible ());

  list.setBackups ({});
  sf_backup_info_unref (first);
  sf_backup_info_unref (second);
}

/* The lock is drawn, whatever fonts the machine has, and named for screen readers; notes are the
 * cell's second line, one plain line cut at the cell's end, and the cell keeps a touch height. */
TEST (BackupList, ShowsADrawnLockAndTheNotesOnOneLine)
{
  ensureApplication ();
  MainView mainView;
  const QString hostile = QStringLiteral ("<b>Before</b> the trip\nsecond\u2028third\rfourth ")
                          + QString (300, QLatin1Char ('w'));
  SfBackupInfo *noted = makeNotedInfo ("Backup1", hostile.toUtf8 ().constData ());
  SfBackupInfo *bare = makeNotedInfo ("Backup0", "");
  BackupList list (&mainView);
  list.setBackups ({ noted, bare });
  list.resize (480, 700);
  mainView.resize (480, 700);
  mainView.show ();
  ASSERT_TRUE (QTest::qWaitForWindowExposed (&mainView));
  auto *tkList = list.findChild<TkList *> ();

  for (int row : { 0, 1 })
    {
      auto *lock = tkList->cell (row)->findChild<TkLockIcon *> ("icon-m-common-locked");
      ASSERT_NE (lock, nullptr) << row;
      EXPECT_EQ (lock->accessibleName (), qtTrId ("qtn_back_protected"));
      EXPECT_NE (lock->accessibleName (), QStringLiteral ("qtn_back_protected"));
      EXPECT_TRUE (lock->isVisible ());
      EXPECT_GT (paintedPixels (lock), lock->width () * lock->height () / 4)
          << "the lock is painted, not left to a font";
    }

  auto *notes = tkList->cell (0)->findChild<TkElidedLabel *> ("notes");
  ASSERT_NE (notes, nullptr);
  EXPECT_TRUE (notes->isVisible ());
  EXPECT_EQ (notes->textFormat (), Qt::PlainText);
  /* Second line: below the name, above the date. */
  auto *title = tkList->cell (0)->findChild<QWidget *> ("title");
  auto *subtitle = tkList->cell (0)->findChild<QWidget *> ("subtitle");
  EXPECT_GT (notes->y (), title->y ());
  EXPECT_LT (notes->y (), subtitle->y ());
  EXPECT_LE (notes->x () + notes->width (), tkList->cell (0)->width ());
  QString shown = TkElidedLabel::elided (notes->text (), notes, notes->width (), Qt::ElideRight);
  EXPECT_TRUE (shown.startsWith ("<b>Before</b> the trip second third fourth"))
      << shown.toStdString ();
  EXPECT_TRUE (shown.endsWith (QChar (0x2026))) << shown.toStdString ();
  EXPECT_LE (QFontMetrics (notes->font ()).horizontalAdvance (shown), notes->width ());
  EXPECT_EQ (tkList->cell (1)->findChild<TkElidedLabel *> ("notes"), nullptr)
      << "no empty line for a backup without notes";
  EXPECT_LE (tkList->cell (0)->height (), 100) << "a comfortable touch height, no more";
  EXPECT_GE (tkList->cell (0)->height (), 88);

  list.setBackups ({});
  sf_backup_info_unref (noted);
  sf_backup_info_unref (bare);
}

/* The item sheet shows the whole notes as plain text, wrapped within the screen. */
TEST (BackupItemDialog, ShowsTheWholeNotesAsPlainTextWithinTheScreen)
{
  ensureApplication ();
  MainView mainView;
  const QString hostile = QStringLiteral ("<b>Before</b> <img src=\"/tmp/p.png\"> the trip\n")
                          + QString (400, QLatin1Char ('w'));
  SfBackupInfo *info = makeNotedInfo ("Backup3", hostile.toUtf8 ().constData ());
  mainView.resize (TkApplicationWindow::phoneSize ());
  BackupItemDialog dialog (info, &mainView);
  dialog.appear ();
  ASSERT_TRUE (QTest::qWaitForWindowExposed (&dialog));
  auto *notes = dialog.findChild<QTextEdit *> ("notesView");
  ASSERT_NE (notes, nullptr);
  EXPECT_TRUE (notes->isVisible ());
  EXPECT_EQ (notes->toPlainText (), hostile);
  EXPECT_TRUE (notes->isReadOnly ());
  EXPECT_FALSE (notes->document ()->toHtml ().contains ("<img")) << "never markup";
  EXPECT_EQ (dialog.width (), TkApplicationWindow::phoneSize ().width ())
      << "a long word does not widen the sheet";
  EXPECT_LE (notes->document ()->idealWidth (), notes->viewport ()->width () + 1);
  EXPECT_GT (notes->height (), QFontMetrics (notes->font ()).height () * 3)
      << "the wrapped lines are shown";
  dialog.cancelButton ()->click ();
  sf_backup_info_unref (info);

  SfBackupInfo *bare = makeNotedInfo ("Backup4", "");
  BackupItemDialog plain (bare, &mainView);
  EXPECT_EQ (plain.findChild<QTextEdit *> ("notesView"), nullptr);
  sf_backup_info_unref (bare);
}

TEST (ProcessSheets, ProgressFinishAndCancel)
{
  ensureApplication ();
  MainView mainView;
  BackupProcessSheet backup (&mainView);
  QSignalSpy backupCancel (&backup, &ProcessSheet::cancelRequested);
  EXPECT_EQ (backup.title (), qtTrId ("qtn_back_newbackuptitle"));
  EXPECT_EQ (backup.label (), qtTrId ("qtn_back_creatingbackup"));
  backup.appear ();
  backup.slotProgressChanged (37);
  EXPECT_EQ (backup.progress (), 37);
  /* Only asks: the sheet says it cancels once the engine does. */
  backup.cancelButton ()->click ();
  EXPECT_EQ (backupCancel.count (), 1);
  EXPECT_TRUE (backup.cancelButton ()->isEnabled ());
  EXPECT_EQ (backup.label (), qtTrId ("qtn_back_creatingbackup"));
  QTest::keyClick (&backup, Qt::Key_Escape);
  backup.reject ();
  EXPECT_TRUE (backup.isVisible ()) << "nothing dismisses a running operation's sheet";
  backup.slotOnBackupFinished ();
  EXPECT_EQ (backup.progress (), 100);
  backup.dismiss ();
  EXPECT_FALSE (backup.isVisible ());

  BackupProcessSheet cancelledByEngine (&mainView);
  QSignalSpy quiet (&cancelledByEngine, &ProcessSheet::cancelRequested);
  cancelledByEngine.slotOnEngineStartedCancel ();
  EXPECT_TRUE (cancelledByEngine.isCancelling ());
  EXPECT_FALSE (cancelledByEngine.cancelButton ()->isEnabled ());
  EXPECT_EQ (quiet.count (), 0);

  RestoreProcessSheet restore (&mainView);
  EXPECT_EQ (restore.title (), "Restore");
  QSignalSpy restoreCancel (&restore, &ProcessSheet::cancelRequested);
  EXPECT_EQ (restore.label (), qtTrId ("qtn_back_restoring"));
  restore.appear ();
  restore.cancelButton ()->click ();
  EXPECT_EQ (restoreCancel.count (), 1);
  /* A restore goes on: the sheet does not pretend to cancel it. */
  EXPECT_TRUE (restore.cancelButton ()->isEnabled ());
  EXPECT_EQ (restore.label (), qtTrId ("qtn_back_restoring"));
  restore.slotOnRestoreFinished ();
  EXPECT_EQ (restore.progress (), 100);

  AnimationPageSheet suiteRestore (true);
  EXPECT_EQ (labelText (&suiteRestore, "operationLabel"), qtTrId ("qtn_back_restoring"));
}

TEST (SSUBackupFinishedView, OkAndBackBothClose)
{
  ensureApplication ();
  SSUBackupFinishedView view;
  QSignalSpy closed (&view, &SSUBackupFinishedView::ssuFinalWindowClosed);
  view.findChild<QPushButton *> (QStringLiteral ("okButton"))->click ();
  view.escapeButton ()->click ();
  EXPECT_EQ (closed.count (), 2);
}

TEST (PasswordQuerySheet, AsksAgainAfterAWrongPasswordAndGivesUpAfterThree)
{
  ensureApplication ();
  MainView mainView;
  SfBackupInfo *info = makeInfo ("Backup5", 1700000000);
  QStringList tried;
  auto check = [&] (const QString &password) {
    tried.append (password);
    return password == QLatin1String ("right");
  };

  PasswordQuerySheet sheet (info, &mainView);
  sheet.setPasswordCheck (check);
  QSignalSpy given (&sheet, &PasswordQuerySheet::passwordGiven);
  auto *field = sheet.findChild<QLineEdit *> (QStringLiteral ("passwordField"));
  ASSERT_NE (field, nullptr);
  EXPECT_EQ (field->echoMode (), QLineEdit::Password);
  sheet.appear ();
  field->setText (QStringLiteral ("wrong"));
  sheet.acceptButton ()->click ();
  EXPECT_TRUE (sheet.isVisible ());
  EXPECT_EQ (sheet.attemptsLeft (), 2);
  EXPECT_EQ (labelText (&sheet, "tkInlineMessage"), "Wrong password, 2 attempts left");
  EXPECT_TRUE (field->text ().isEmpty ());
  EXPECT_EQ (sheet.focusWidget (), field) << "the next try is typed in the field";
  sheet.acceptButton ()->setFocus ();
  sheet.acceptButton ()->click ();
  EXPECT_EQ (labelText (&sheet, "tkInlineMessage"), "Wrong password, 1 attempt left");
  EXPECT_EQ (sheet.focusWidget (), field);
  field->setText (QStringLiteral ("right"));
  QTest::keyClick (field, Qt::Key_Return);
  ASSERT_EQ (given.count (), 1);
  EXPECT_EQ (given.at (0).at (0).toString (), QStringLiteral ("right"));
  EXPECT_FALSE (sheet.isVisible ());

  PasswordQuerySheet stubborn (info, &mainView);
  stubborn.setPasswordCheck (check);
  QSignalSpy refused (&stubborn, &PasswordQuerySheet::passwordRefused);
  QSignalSpy rejected (&stubborn, &QDialog::rejected);
  QSignalSpy never (&stubborn, &PasswordQuerySheet::passwordGiven);
  stubborn.appear ();
  tried.clear ();
  for (int i = 0; i < 3; i++)
    {
      stubborn.findChild<QLineEdit *> (QStringLiteral ("passwordField"))
          ->setText (QStringLiteral ("guess%1").arg (i));
      stubborn.acceptButton ()->click ();
    }
  EXPECT_EQ (tried.size (), 3);
  EXPECT_EQ (refused.count (), 1);
  EXPECT_EQ (rejected.count (), 1);
  EXPECT_EQ (never.count (), 0);
  EXPECT_FALSE (stubborn.isVisible ());
  sf_backup_info_unref (info);
}

#include "test-dialogs.moc"
