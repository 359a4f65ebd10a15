#include "sf-utils.h"

#include "BackupMainView.h"

#include "BackupEngine.h"
#include "BackupItemDialog.h"
#include "BackupList.h"
#include "BackupMessageBoxes.h"
#include "BackupProcessSheet.h"
#include "BackupRestoreErrorUtils.h"
#include "BackupRestoreUtils.h"
#include "ContextMonitor.h"
#include "FeedbackClientWrapper.h"
#include "NewBackupDialog.h"
#include "PasswordQuerySheet.h"
#include "ProgressReporter.h"
#include "RestoreDeleteFileQueryDialog.h"
#include "RestoreEngine.h"
#include "RestoreProcessSheet.h"
#include "SSUBackupFinishedView.h"
#include "StartRestoreQueryDialog.h"
#include "TkBanner.h"
#include "TkMessageBox.h"
#include "Tracing.h"
#include "WindowProperties.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

namespace
{
const int acceptButton = QDialogButtonBox::Ok;
const int rebootDelayMs = 2000;
const quint64 restoreSpaceMargin = 524288;

const int backupCompleted = 100;
const int backupCancelled = 101;
const int restoreApplicationsWritten = 203;
const int restoreSettingsWritten = 204;

/* The local folder of a target's backups. */
QString
backupsFolder (SfTarget *target)
{
  return QUrl::fromEncoded (sf_target_get_backups_uri (target)).toLocalFile ();
}
} // namespace

SfTarget *
BackupMainView::getDefaultTarget () const
{
  SfTarget *target = nullptr;
  for (SfTarget *candidate : utils->targets ())
    {
      target = candidate;
      const gchar *name = sf_target_get_display_name (candidate);
      if (name != NULL && name[0] != '\0')
        return candidate;
    }
  return target;
}

bool
BackupMainView::isBatterySufficient ()
{
  return ContextMonitor::isBatterySufficient (contextMonitor);
}

void
BackupMainView::deleteEngines ()
{
  delete backupEngine;
  delete restoreEngine;
}

void
BackupMainView::showLumoSuiteConnectedBanner ()
{
  TkBanner::showText (this, qtTrId ("qtn_back_backupinterrupted_lumo"));
}

/* New backup. */

void
BackupMainView::slotOpenNewBackupDialog ()
{
  if (lumoSuiteConnected ())
    showLumoSuiteConnectedBanner ();
  else
    openNewBackupDialog (true);
}

void
BackupMainView::slotDBusOpenNewBackupDialog ()
{
  if (finishingRestore)
    {
      TRACE ("Finishing a restore: no new backup");
      return;
    }
  activateWindow ();
  if (isConnectedToPC ())
    {
      showNoActivityPossibleView ();
      return;
    }
  if (newBackupDialog != nullptr && newBackupDialog->isVisible ())
    {
      TRACE ("New backup view is already visible");
      return;
    }
  Q_EMIT signalCloseAllSubWindows ();
  showPage (mainPage);
  openNewBackupDialog (false);
}

void
BackupMainView::openNewBackupDialog (bool animated)
{
  if (isBusy () || finishingRestore)
    {
      TRACE ("Backup/Restore is in progress, returning .....");
      return;
    }
  if (listRefreshing)
    {
      openDialogAfterLoad = true;
      return;
    }
  if (newBackupDialog != nullptr)
    newBackupDialog->clearFields ();
  else
    {
      TRACE ("creating new backup dialog");
      newBackupDialog = new NewBackupDialog (this);
      connect (newBackupDialog, &NewBackupDialog::signalCloseNewBackupDialog, this,
               &BackupMainView::slotNewBackupDialogClosed);
    }
  newBackupDialog->setLaunchedFromDBus (launchedFromDBus);
  newBackupDialog->appear (animated);
}

void
BackupMainView::slotNewBackupDialogClosed (int result)
{
  if (result != QDialog::Accepted)
    return;
  pendingNote = newBackupDialog->notes ();
  pendingPassword = newBackupDialog->password ();
  showListView ();
  QTimer::singleShot (0, this, &BackupMainView::slotBackupTimerTriggered);
}

void
BackupMainView::slotBackupTimerTriggered ()
{
  if (isConnectedToPC ())
    {
      TRACE ("Connected to PC????, very very difficult to reach this line");
      showNoActivityPossibleView ();
      return;
    }
  if (!isBatterySufficient ())
    {
      TkMessageBox *query = BackupMessageBoxes::lowBatteryBackupQuery (this);
      connect (query, &QDialog::accepted, this, &BackupMainView::slotStartBackupWithSavedNote);
      query->appear ();
      return;
    }
  slotStartBackupWithSavedNote ();
}

void
BackupMainView::slotStartBackupWithSavedNote ()
{
  startBackup (pendingNote);
}

QString
BackupMainView::nextBackupName () const
{
  QStringList taken
      = QDir (backupsFolder (getDefaultTarget ()))
            .entryList (QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
  for (int number = 0;; number++)
    {
      QString name = QStringLiteral ("Backup%1").arg (number);
      /* Memory cards compare names without case: backup0 takes Backup0's place there. */
      if (!taken.contains (name, Qt::CaseInsensitive))
        return name;
    }
}

void
BackupMainView::startBackup (const QString &notes)
{
  if (backupRunning)
    TRACE ("******* Backup is already in progress, should never reach here");
  if (isConnectedToPC ())
    {
      TRACE ("Trying to start backup while connected to PC");
      showNoActivityPossibleView ();
      return;
    }
  backupRunning = true;
  SfTarget *target = getDefaultTarget ();
  if (target == nullptr)
    {
      TRACE ("File system not mounted, backup can not continue, failed");
      BackupMessageBoxes::operationInterruptedDialog (this, qtTrId ("qtn_back_bufail_tit"), 103)
          ->appear ();
      backupRunning = false;
      return;
    }
  runningBackupName = nextBackupName ();
  QVariantMap description{ { QStringLiteral ("name"), runningBackupName },
                           { QStringLiteral ("notes"), notes },
                           { QStringLiteral ("password"), pendingPassword } };
  pendingPassword.clear ();

  deleteEngines ();
  backupEngine = new BackupEngine (backend, target, SF_CATEGORY_ALL, this, description);
  connect (backupEngine, &BackupEngine::backupEngineStarted, this,
           &BackupMainView::slotBackupEngineStarted);
  connect (backupEngine, &BackupEngine::backupEngineFinished, this,
           &BackupMainView::completeProgressIndicator);
  connect (backupEngine, &BackupEngine::backupEngineFinished, this,
           &BackupMainView::slotBackupEngineFinished);

  newBackupButton->setEnabled (false);
  list->setEnabled (false);
  progressReporter->slotStartReportingProgress ();
  auto *sheet = new BackupProcessSheet (this);
  sheet->setAttribute (Qt::WA_DeleteOnClose);
  processSheet = sheet;
  connect (backupEngine, &BackupEngine::backupEngineFinished, sheet,
           &BackupProcessSheet::slotOnBackupFinished);
  connect (backupEngine, &BackupEngine::backupEngineFinished, progressReporter,
           &ProgressReporter::slotStopReportingProgress);
  connect (progressReporter, &ProgressReporter::signalProgress, sheet,
           &ProcessSheet::slotProgressChanged);
  connect (sheet, &ProcessSheet::cancelRequested, this, &BackupMainView::slotBackupCancelRequested);
  connect (backupEngine, &BackupEngine::cancellingIsInitiated, sheet,
           &ProcessSheet::slotOnEngineStartedCancel);
  connect (backupEngine, &BackupEngine::cancelNoLongerPossible, sheet,
           [sheet] () { sheet->cancelButton ()->setEnabled (false); });
  sheet->appear ();
  BackupRestoreErrorUtils::removeErrorLog ();
  backupEngine->startBackup ();
  ssuBackupStarted = true;
}

void
BackupMainView::slotBackupEngineStarted ()
{
  TRACE ("Backup engine started");
}

void
BackupMainView::slotBackupEngineFinished (int statusCode)
{
  backupRunning = false;
  TRACE ("*************************** Status code = " + QString::number (statusCode));
  if (processSheet != nullptr)
    processSheet->dismiss ();
  if (launchedFromDBus)
    {
      handleOsUpdateBackupFinish (statusCode);
      return;
    }
  if (!exiting)
    setupBackupsInfo ();
  if (statusCode == backupCompleted)
    {
      TkBanner::showText (this, qtTrId ("qtn_back_backup_created").arg (runningBackupName));
      errorUtils->showBackupErrorDialogIfNeeded ();
    }
  else if (statusCode != backupCancelled)
    {
      TkMessageBox *box = BackupMessageBoxes::operationInterruptedDialog (
          this, qtTrId ("qtn_back_bufail_tit"), statusCode, backupFailureCode ());
      connect (box, &TkMessageBox::appeared, feedback, &FeedbackClientWrapper::playWarningSnd);
      box->appear ();
    }
  if (exiting)
    closeApplication ();
  else
    list->setEnabled (true);
}

int
BackupMainView::backupFailureCode () const
{
  return backupEngine.isNull () ? -1 : backupEngine->failureCode ();
}

void
BackupMainView::handleOsUpdateBackupFinish (int statusCode)
{
  exiting = false;
  if (statusCode == backupCancelled)
    {
      TRACE ("Backup cancelled, closing the application");
      closeApplication ();
      return;
    }
  if (statusCode == backupCompleted)
    {
      TkMessageBox *failures = errorUtils->showBackupErrorDialogIfNeeded ();
      if (failures == nullptr)
        openOsUpdateBackupFinidhedView ();
      else
        connect (failures, &QDialog::finished, this, &BackupMainView::closeApplication);
      return;
    }
  TkMessageBox *box = BackupMessageBoxes::operationInterruptedDialog (
      this, qtTrId ("qtn_back_bufail_tit"), statusCode, backupFailureCode ());
  connect (box, &QDialog::finished, this, &BackupMainView::closeApplication);
  connect (box, &TkMessageBox::appeared, feedback, &FeedbackClientWrapper::playWarningSnd);
  box->appear ();
}

void
BackupMainView::openOsUpdateBackupFinidhedView ()
{
  auto *view = new SSUBackupFinishedView;
  connect (view, &TkPage::appeared, feedback, &FeedbackClientWrapper::playInformationSnd);
  connect (view, &SSUBackupFinishedView::ssuFinalWindowClosed, this,
           &BackupMainView::closeApplication, Qt::QueuedConnection);
  showPage (view);
}

/* Restore. */

void
BackupMainView::listRestoreRequested (void *magic)
{
  if (isBusy ())
    {
      TRACE ("Backend busy, restore request ignored");
      return;
    }
  if (lumoSuiteConnected ())
    {
      showLumoSuiteConnectedBanner ();
      return;
    }
  if (!backups.contains (static_cast<SfBackupInfo *> (magic)))
    {
      TRACE ("Item got removed from list? restore request ignored");
      return;
    }
  selectBackup (static_cast<SfBackupInfo *> (magic));
  auto *query = new StartRestoreQueryDialog (
      this, QString::fromUtf8 (sf_backup_info_get_name (static_cast<SfBackupInfo *> (magic))));
  connect (query, &QDialog::accepted, this, &BackupMainView::slotRestoreConfirmed);
  query->appear ();
}

void
BackupMainView::listItemTapped (void *magic)
{
  if (isBusy ())
    {
      TRACE ("Backend busy, item tapping ignored");
      return;
    }
  if (!backups.contains (static_cast<SfBackupInfo *> (magic)))
    {
      TRACE ("Item got removed from list? tapping ignored");
      return;
    }
  selectBackup (static_cast<SfBackupInfo *> (magic));
  if (itemDialog != nullptr)
    {
      TRACE ("Destroying old item dialog");
      delete itemDialog;
    }
  TRACE ("creating new backup item dialog");
  itemDialog = new BackupItemDialog (selectedBackup, this);
  connect (itemDialog, &BackupItemDialog::onDeleteConfirmed, this,
           &BackupMainView::slotDeleteCurrentlySelectedBackup, Qt::QueuedConnection);
  connect (itemDialog, &BackupItemDialog::onRestoreConfirmed, this,
           &BackupMainView::slotRestoreConfirmed, Qt::QueuedConnection);
  itemDialog->appear ();
}

void
BackupMainView::selectBackup (SfBackupInfo *info)
{
  if (info != nullptr)
    sf_backup_info_ref (info);
  if (selectedBackup != nullptr)
    sf_backup_info_unref (selectedBackup);
  selectedBackup = info;
}

void
BackupMainView::slotRestoreConfirmed ()
{
  if (lumoSuiteConnected ())
    showLumoSuiteConnectedBanner ();
  else if (isBatterySufficient ())
    startRestore ();
  else
    {
      TkMessageBox *query = BackupMessageBoxes::lowBatteryRestoreQuery (this);
      connect (query, &QDialog::accepted, this, &BackupMainView::startRestore);
      query->appear ();
    }
}

bool
BackupMainView::hasEnoughFreeSpaceforRestore ()
{
  SfTarget *target = getDefaultTarget ();
  if (target == nullptr || selectedBackup == nullptr)
    return false;
  quint64 freeSpace = sf_target_calculate_free_space (target);
  quint64 required = sf_backup_info_get_size_for_categories (selectedBackup, SF_CATEGORY_ALL)
                     + restoreSpaceMargin;
  TRACE ("**************** Available free space = " + QString::number (freeSpace));
  TRACE ("**************** Total space required = " + QString::number (required));
  return required < freeSpace;
}

void
BackupMainView::startRestore ()
{
  if (isBusy () || !selectionIsListed ())
    {
      TRACE ("Restore not started: busy, or the backup is no longer listed");
      return;
    }
  BackupRestoreErrorUtils::removeErrorLog ();
  if (!hasEnoughFreeSpaceforRestore ())
    {
      TkMessageBox *box = BackupMessageBoxes::messageDialog (
          this, qtTrId ("qtn_back_restorefail_tit"), qtTrId ("qtn_back_devicememfullrestore"));
      connect (box, &TkMessageBox::appeared, feedback,
               &FeedbackClientWrapper::playConditionalWarningSnd);
      box->appear ();
      return;
    }
  if (!sf_backup_info_get_is_protected (selectedBackup))
    {
      startRestoreWithPassword (QString ());
      return;
    }
  passwordQuery = new PasswordQuerySheet (selectedBackup, this);
  passwordQuery->setAttribute (Qt::WA_DeleteOnClose);
  connect (passwordQuery, &PasswordQuerySheet::passwordGiven, this,
           &BackupMainView::startRestoreWithPassword, Qt::QueuedConnection);
  passwordQuery->appear ();
}

void
BackupMainView::startRestoreWithPassword (const QString &password)
{
  if (isBusy () || !selectionIsListed ())
    return;
  restoreRunning = true;
  deleteEngines ();
  restoreEngine = new RestoreEngine (this, selectedBackup, SF_CATEGORY_ALL, password);
  connect (restoreEngine, &RestoreEngine::restoreEngineStarted, this,
           &BackupMainView::slotRestoreEngineStarted);
  connect (restoreEngine, &RestoreEngine::restoreEngineFinished, this,
           &BackupMainView::slotRestoreEngineFinished);
  newBackupButton->setEnabled (false);
  list->setEnabled (false);
  progressReporter->slotStartReportingProgress ();

  auto *sheet = new RestoreProcessSheet (this);
  sheet->setAttribute (Qt::WA_DeleteOnClose);
  processSheet = sheet;
  connect (restoreEngine, &RestoreEngine::restoreEngineFinished, sheet,
           &RestoreProcessSheet::slotOnRestoreFinished);
  connect (restoreEngine, &RestoreEngine::restoreEngineFinished, progressReporter,
           &ProgressReporter::slotStopReportingProgress);
  connect (progressReporter, &ProgressReporter::signalProgress, sheet,
           &ProcessSheet::slotProgressChanged);
  connect (sheet, &ProcessSheet::cancelRequested, this,
           &BackupMainView::slotRestoreCancelRequested);
  sheet->appear ();
  WindowProperties::applyToOperationWindow (sheet);
  WindowProperties::removePingProtocol (this);
  restoreEngine->startRestore ();
}

void
BackupMainView::slotRestoreEngineStarted ()
{
  TRACE ("Restore engine started");
}

void
BackupMainView::slotRestoreEngineFinished (int statusCode)
{
  TRACE ("Restore finished, status code = " + QString::number (statusCode));
  bool suite = restoreEngine != nullptr && restoreEngine->isLumoSuiteRestore ();
  /* Only settings that were written need the device restarted. */
  bool reboot = !suite && statusCode == restoreSettingsWritten;
  if (processSheet != nullptr)
    processSheet->dismiss ();
  SfRestoreFailure *failure = getRestoreFailure ();
  if (failure != nullptr && sf_restore_failure_has_failures (failure))
    {
      TkMessageBox *box = BackupMessageBoxes::restoreFailedDialog (this, failure);
      connect (box, &TkMessageBox::appeared, feedback, &FeedbackClientWrapper::playWarningSnd);
      box->appear ();
    }
  else if (reboot)
    TkBanner::showText (this, getCachedTranslation (QStringLiteral ("qtn_back_settingsreboot")));
  else
    TkBanner::showText (this, qtTrId ("qtn_back_restore_done"));
  errorUtils->showRestoreErrorDialogIfNeeded ();
  newBackupButton->setEnabled (true);
  if (reboot)
    {
      initiateRebootProcedure ();
      return;
    }
  restoreRunning = false;
  list->setEnabled (true);
  if (!suite && statusCode == restoreApplicationsWritten && isNeededToInvokePackageManager ())
    showPackageManagerQueryDialog (false);
}

SfRestoreFailure *
BackupMainView::getRestoreFailure () const
{
  return restoreEngine != nullptr ? restoreEngine->getRestoreFailure () : nullptr;
}

void
BackupMainView::initiateRebootProcedure ()
{
  TRACE ("Reboot procedure has initiated");
  QTimer::singleShot (rebootDelayMs, this, &BackupMainView::rebootAfterRestore);
}

void
BackupMainView::rebootAfterRestore ()
{
  if (unitTestMode)
    TRACE ("NO REBOOTING FROM UNIT TEST CODE");
  else
    sf_utils_reboot ();
  backupRunning = false;
  restoreRunning = false;
  closeApplication ();
}

/* Package manager after the application list was restored. */

void
BackupMainView::showPackageManagerQueryDialog (bool closeWhenDone)
{
  TkMessageBox *query = BackupMessageBoxes::launchInstallationsQuery (this);
  if (closeWhenDone)
    connect (query, &QDialog::finished, this, &BackupMainView::launchPackageManagerAndClose);
  else
    connect (query, &QDialog::finished, this, &BackupMainView::launchPackageManager);
  query->appear ();
}

void
BackupMainView::launchPackageManager (int result)
{
  if (result != acceptButton)
    return;
  QDBusMessage call = QDBusMessage::createMethodCall (
      QStringLiteral ("com.korvel.package_manager_ui"),
      QStringLiteral ("/com/korvel/package_manager_ui"),
      QStringLiteral ("com.korvel.package_manager_ui"), QStringLiteral ("show_restore_page"));
  bool sent = QDBusConnection::sessionBus ().send (call);
  TRACE (QStringLiteral ("Package manager asked to show its restore page: ")
         + (sent ? QStringLiteral ("sent") : QStringLiteral ("not sent")));
}

void
BackupMainView::launchPackageManagerAndClose (int result)
{
  launchPackageManager (result);
  closeApplication ();
}

/* Delete. */

void
BackupMainView::listDeleteRequested (void *magic)
{
  auto *info = static_cast<SfBackupInfo *> (magic);
  if (isBusy ())
    {
      TRACE ("A backup or restore runs, delete request refused");
      return;
    }
  if (!backups.contains (info))
    {
      TRACE ("Not able to process this delete request, list is refreshing");
      return;
    }
  selectBackup (info);
  auto *query
      = new RestoreDeleteFileQueryDialog (QString::fromUtf8 (sf_backup_info_get_name (info)),
                                          sf_backup_info_get_timestamp (info), this);
  connect (query, &QDialog::accepted, this, &BackupMainView::slotDeleteCurrentlySelectedBackup);
  query->appear ();
}

void
BackupMainView::slotDeleteCurrentlySelectedBackup ()
{
  if (isBusy ())
    {
      TRACE ("A backup or restore runs, delete refused");
      return;
    }
  if (!selectionIsListed ())
    {
      TRACE ("can not delete, list is getting refreshed");
      return;
    }
  showLoading (true);
  QString name = QString::fromUtf8 (sf_backup_info_get_name (selectedBackup));
  /* The backup's own target: the default one may be another memory. A removal tells the
   * target's listeners, and so reloads the list, by itself. */
  SfTarget *target = sf_target_manager_get_target_from_backup (manager, selectedBackup);
  bool removed = target != nullptr && sf_target_remove_backup (target, selectedBackup);
  selectBackup (nullptr);
  if (!removed)
    {
      TRACE ("Removing the backup failed");
      showLoading (false);
      TkBanner::showText (this, qtTrId ("qtn_back_delete_failed").arg (name));
    }
}

bool
BackupMainView::removeBackupFolder (SfTarget *target, QString name)
{
  if (isUsbConnectedInMSMMode ())
    {
      TRACE ("Can not remove backup, filesystem not accessible");
      return false;
    }
  if (target == nullptr || name.isEmpty () || name.contains ('/') || name == QLatin1String (".")
      || name == QLatin1String (".."))
    return false;
  TRACE ("Removing the backup folder \"" + name + "\" of " + backupsFolder (target));
  return BackupRestoreUtils::removeBackupFolder (target, name);
}

/* Cancel. */

void
BackupMainView::slotBackupCancelRequested ()
{
  /* An answered query lingers, hidden, until the event loop deletes it. */
  if (!backupRunning || (cancelQuery != nullptr && cancelQuery->isVisible ())
      || backupEngine == nullptr || !backupEngine->isCancellable ())
    return;
  TkMessageBox *query = BackupMessageBoxes::cancelBackupQuery (this);
  cancelQuery = query;
  connect (backupEngine, &BackupEngine::cancelNoLongerPossible, query, &QDialog::reject,
           Qt::QueuedConnection);
  connect (query, &QDialog::finished, this, &BackupMainView::processCancelDialog,
           Qt::QueuedConnection);
  query->appear ();
}

void
BackupMainView::processCancelDialog (int result)
{
  if (result == acceptButton)
    slotCancelBackup ();
  else
    TRACE ("*** cancel dialog returned code = " + QString::number (result));
}

void
BackupMainView::slotCancelBackup ()
{
  if (!backupRunning || backupEngine == nullptr)
    return;
  list->setEnabled (false);
  backupEngine->cancelBackup ();
}

void
BackupMainView::slotRestoreCancelRequested ()
{
  if (!restoreRunning)
    {
      TRACE ("Restore cancel request, restore already finished");
      return;
    }
  TkMessageBox *box = BackupMessageBoxes::messageDialog (
      this, QString (), getCachedTranslation (QStringLiteral ("qtn_back_stop_restore")));
  if (restoreEngine != nullptr)
    connect (restoreEngine, &RestoreEngine::restoreEngineFinished, box, &QDialog::reject);
  box->appear ();
}

/* Close. */

void
BackupMainView::slotAttemptedToCloseApplication ()
{
  if (exiting)
    {
      TRACE ("*** Already have asked to exit on backup, returning");
      return;
    }
  activateWindow ();
  if (closeDialog != nullptr)
    return;
  TkMessageBox *box = nullptr;
  if (restoreRunning)
    {
      box = BackupMessageBoxes::messageDialog (
          this, getCachedTranslation (QStringLiteral ("qtn_back_no_close_during_restore_tit")),
          getCachedTranslation (QStringLiteral ("qtn_back_no_close_during_restore")));
      if (restoreEngine != nullptr)
        connect (restoreEngine, &RestoreEngine::restoreEngineFinished, box, &QDialog::accept);
      connect (box, &QDialog::accepted, this, &BackupMainView::slotCancelCloseDialogRejected);
    }
  else if (backupRunning)
    {
      box = BackupMessageBoxes::cancelAndCloseQuery (this);
      connect (box, &QDialog::accepted, this, &BackupMainView::slotCancelBackupAndExitAccepted);
      connect (box, &QDialog::rejected, this, &BackupMainView::slotCancelCloseDialogRejected);
      if (backupEngine != nullptr)
        connect (backupEngine, &BackupEngine::backupEngineFinished, box, &QDialog::reject);
    }
  if (box == nullptr)
    return;
  closeDialog = box;
  connect (box, &TkMessageBox::appeared, feedback, &FeedbackClientWrapper::playWarningSnd);
  box->appear ();
}

void
BackupMainView::slotCancelBackupAndExitAccepted ()
{
  exiting = true;
  slotCancelBackup ();
  closeDialog = nullptr;
}

void
BackupMainView::slotCancelCloseDialogRejected ()
{
  closeDialog = nullptr;
}
