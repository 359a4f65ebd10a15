#include "sf-utils.h"

#include "BackupMainView.h"

#include "BackupEngine.h"
#include "BackupItemDialog.h"
#include "BackupLastStateInfo.h"
#include "BackupList.h"
#include "BackupMainViewCallbacks.h"
#include "BackupRestoreErrorUtils.h"
#include "BackupRestoreUtils.h"
#include "BackupService.h"
#include "ContextMonitor.h"
#include "FeedbackClientWrapper.h"
#include "LumoSuiteWatcher.h"
#include "NewBackupDialog.h"
#include "PasswordQuerySheet.h"
#include "ProgressReporter.h"
#include "RestoreEngine.h"
#include "TkBanner.h"
#include "TkFeedback.h"
#include "TkNotification.h"
#include "TkPage.h"
#include "TkSpinner.h"
#include "Tracing.h"
#include "UsbModeWatcher.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace
{
enum View
{
  ListView,
  EmptyStateView,
  NoActivityView
};

const char *const cachedIds[] = { "qtn_back_settingsreboot", "qtn_back_no_close_during_restore",
                                  "qtn_back_no_close_during_restore_tit", "qtn_back_stop_restore",
                                  "qtn_back_restoreinterrupted" };

/* The backup described at path, or null. */
SfBackupInfo *
readBackup (const QString &path)
{
  g_autoptr (GFile) directory = g_file_new_for_path (QFile::encodeName (path).constData ());
  return sf_backup_info_new_from_directory (directory);
}

bool
isReadableBackup (const QString &path)
{
  g_autoptr (SfBackupInfo) info = readBackup (path);
  return info != nullptr;
}

/* Whether the interrupted backup at path was written whole: the engine describes a backup only
 * once its archives are complete, and then removes the packed originals from the export areas,
 * so a backup described after its marker was set may be the only copy of those files. */
bool
interruptedBackupIsWhole (const QString &path, const QString &markerPath)
{
  QFileInfo marker (markerPath);
  if (!marker.exists ())
    return false;
  g_autoptr (SfBackupInfo) info = readBackup (path);
  return info != nullptr
         && BackupLastStateInfo::describedSinceMarker (sf_backup_info_get_timestamp (info),
                                                       marker.lastModified ().toMSecsSinceEpoch ());
}

QLabel *
centredText (const char *name)
{
  auto *label = new QLabel;
  label->setObjectName (QLatin1String (name));
  label->setAlignment (Qt::AlignCenter);
  label->setWordWrap (true);
  return label;
}
} // namespace

BackupMainView *BackupMainView::instance_ = nullptr;

BackupMainView::BackupMainView (QWidget *parent, bool finishRestore, bool serviceMode)
    : TkApplicationWindow (parent), finishingRestore (finishRestore), serviceMode (serviceMode),
      progressReporter (new ProgressReporter (this)), feedback (new FeedbackClientWrapper (this)),
      mainPage (new TkPage), loadingPage (new TkPage)
{
  instance_ = this;
  setObjectName (QStringLiteral ("BackupMainView"));
  mainPage->setEscapeMode (TkPage::EscapeClose);
  connect (mainPage, &TkPage::closeButtonClicked, this, &BackupMainView::close);
  loadingPage->setEscapeMode (TkPage::EscapeClose);
  connect (loadingPage, &TkPage::closeButtonClicked, this, &BackupMainView::close);
  loadingPage->bodyLayout ()->addStretch (1);
  loadingPage->bodyLayout ()->addWidget (new TkSpinner);
  loadingPage->bodyLayout ()->addStretch (1);
  showPage (mainPage);
  showPage (loadingPage);

  if (finishRestore)
    {
      TRACE ("Finishing a restore: only the package manager question");
      mainPage->setTitle (qtTrId ("qtn_back_backuprestoretitle"));
      showPage (mainPage);
      QMetaObject::invokeMethod (
          this, [this] { showPackageManagerQueryDialog (true); }, Qt::QueuedConnection);
      return;
    }

  initBackupEngine ();
  buildPage ();
  connect (this, &BackupMainView::signalBackendProgress, this, &BackupMainView::slotProgressUpdated,
           Qt::DirectConnection);
  connect (this, &BackupMainView::signalBackendListLoadingComplete, this,
           &BackupMainView::slotLoadBackupList, Qt::QueuedConnection);
  connect (this, &BackupMainView::signalBackendItemProgress, progressReporter,
           &ProgressReporter::slotActualProgressChanged, Qt::QueuedConnection);
  /* Loads the first list, so only after the connections. */
  translateUi ();

  if (isNeededToInvokePackageManager ())
    QMetaObject::invokeMethod (
        this, [this] { showPackageManagerQueryDialog (false); }, Qt::QueuedConnection);

  for (const char *id : cachedIds)
    translationCache.insert (QLatin1String (id), qtTrId (id));
}

BackupMainView::~BackupMainView ()
{
  for (gulong handler : managerHandlers)
    {
      TRACE ("Disconnecting MANAGER-signal: " + QString::number (handler));
      g_signal_handler_disconnect (manager, handler);
    }
  for (gulong handler : backendHandlers)
    {
      TRACE ("Disconnecting BACKEND-signal: " + QString::number (handler));
      g_signal_handler_disconnect (backend, handler);
    }
  for (auto it = targetHandlers.cbegin (); it != targetHandlers.cend (); ++it)
    {
      TRACE ("Disconnecting TARGET-signal: " + QString::number (it.value ()));
      g_signal_handler_disconnect (it.key (), it.value ());
      g_object_unref (it.key ());
    }
  delete backupEngine;
  delete restoreEngine;
  releaseBackups ();
  if (selectedBackup != nullptr)
    sf_backup_info_unref (selectedBackup);
  if (instance_ == this)
    instance_ = nullptr;
}

BackupMainView *
BackupMainView::instance ()
{
  return instance_;
}

SfBackend *
BackupMainView::processBackend ()
{
  static SfBackend *backend = sf_backend_new ();
  return backend;
}

void
BackupMainView::initBackupEngine ()
{
  if (backend != nullptr && manager != nullptr)
    return;
  contextMonitor = new ContextMonitor (this);
  TRACE ("Initializing backup engine...");
  backend = processBackend ();
  if (backend == nullptr)
    qFatal ("Cannot initialize backup backend");
  manager = sf_target_manager_get ();
  if (manager == nullptr)
    qFatal ("Cannot get backup target manager");

  usbWatcher = UsbModeWatcher::newUsbModeWatcher (this);
  if (usbWatcher == nullptr)
    qCritical ("unable to start usb watcher");
  else
    connect (usbWatcher, &UsbModeWatcher::usbStateChanged, this,
             &BackupMainView::slotPCConnectionSignalReceived, Qt::QueuedConnection);
  lumoSuiteWatcher = new LumoSuiteWatcher (this);
  lumoSuiteWatcher->startWatch ();
  connect (lumoSuiteWatcher, &LumoSuiteWatcher::lumoSuiteStateChanged, this,
           &BackupMainView::slotPCConnectionSignalReceived, Qt::QueuedConnection);

  utils = new BackupRestoreUtils (manager, this);
  errorUtils = new BackupRestoreErrorUtils (this, feedback);
  utils->updateDisplayNames ();
  connectEngineSignals ();
}

void
BackupMainView::connectEngineSignals ()
{
  backendHandlers = {
    g_signal_connect (backend, "progress", G_CALLBACK (backendProgressCallback), this),
    g_signal_connect (backend, "error", G_CALLBACK (backendErrorCallback), this),
    g_signal_connect (backend, "finished", G_CALLBACK (backendFinishedCallback), this),
    g_signal_connect (backend, "cancelled", G_CALLBACK (backendCancelledCallback), this),
  };
  managerHandlers = {
    g_signal_connect (manager, "target-added", G_CALLBACK (targetAddedCallback), this),
    g_signal_connect (manager, "target-removed", G_CALLBACK (targetRemovedCallback), this),
    g_signal_connect (manager, "target-backups-changed", G_CALLBACK (backupsChangedCallback), this),
    g_signal_connect (manager, "backup-list-load-complete",
                      G_CALLBACK (backupsListLoadCompleteCallback), this),
  };
  for (SfTarget *target : utils->targets ())
    connectTarget (target);
}

void
BackupMainView::connectTarget (SfTarget *target)
{
  if (targetHandlers.contains (target))
    return;
  gulong handler = g_signal_connect (target, "notify::is-available",
                                     G_CALLBACK (notifyIsAvailableCallback), this);
  targetHandlers.insert (SF_TARGET (g_object_ref (target)), handler);
}

void
BackupMainView::buildPage ()
{
  newBackupButton = new QPushButton;
  newBackupButton->setObjectName (QStringLiteral ("newBackupButton"));
  connect (newBackupButton, &QPushButton::clicked, this, &BackupMainView::slotOpenNewBackupDialog);

  list = new BackupList;
  list->setObjectName (QStringLiteral ("backupList"));
  connect (list, &BackupList::itemTapped, this, &BackupMainView::listItemTapped);
  connect (list, &BackupList::deleteRequested, this, &BackupMainView::listDeleteRequested);
  connect (list, &BackupList::restoreRequested, this, &BackupMainView::listRestoreRequested);
  connect (this, &BackupMainView::signalCloseAllSubWindows, list,
           &BackupList::slotCloseAllSubviewsSignalReceived);
  emptyStateLabel = centredText ("emptyStateLabel");
  noActivityLabel = centredText ("noActivityLabel");

  views = new QStackedWidget;
  views->setObjectName (QStringLiteral ("views"));
  views->insertWidget (ListView, list);
  views->insertWidget (EmptyStateView, emptyStateLabel);
  views->insertWidget (NoActivityView, noActivityLabel);
  mainPage->bodyLayout ()->addWidget (newBackupButton);
  mainPage->bodyLayout ()->addWidget (views, 1);
  showPage (mainPage);
}

void
BackupMainView::translateUi ()
{
  mainPage->setTitle (qtTrId ("qtn_back_backuprestoretitle"));
  loadingPage->setTitle (qtTrId ("qtn_back_backuprestoretitle"));
  newBackupButton->setText (qtTrId ("qtn_back_newbackuptitle"));
  emptyStateLabel->setText (qtTrId ("qtn_back_emptystate"));
  noActivityLabel->setText (qtTrId ("qtn_back_emptystate_msm"));
  if (newBackupDialog != nullptr)
    newBackupDialog->retranslateUi ();
  setupBackupsInfo ();
}

QString
BackupMainView::getCachedTranslation (const QString &id)
{
  auto found = translationCache.constFind (id);
  if (found != translationCache.cend ())
    return found.value ();
  TRACE ("The id " + id + " is not cached");
  QString text = qtTrId (id.toUtf8 ().constData ());
  translationCache.insert (id, text);
  return text;
}

bool
BackupMainView::event (QEvent *event)
{
  if (event->type () == QEvent::LanguageChange && !restoreRunning && views != nullptr)
    translateUi ();
  if (event->type () == QEvent::Close && isBusy () && isLumoRequestsRunning ())
    {
      TRACE ("Backend busy, closing once the desktop suite's operation has ended");
      event->ignore ();
      backupService->closeRequested ();
      return true;
    }
  if (event->type () == QEvent::Close && isBusy ())
    {
      TRACE ("Backend busy, you can not close now");
      event->ignore ();
      QMetaObject::invokeMethod (this, &BackupMainView::slotAttemptedToCloseApplication,
                                 Qt::QueuedConnection);
      return true;
    }
  return TkApplicationWindow::event (event);
}

/* GObject signals, re-emitted as Qt signals. */

void
BackupMainView::backendProgress (SfBackend *backend, int files, int total, int complete,
                                 SfCategory category)
{
  Q_EMIT signalBackendProgress (backend, files, total, complete, category);
}

void
BackupMainView::backendError (SfBackend *backend, GError *error)
{
  TRACE (QStringLiteral ("Received error from backend, error message = ")
         + QString::fromUtf8 (error != NULL ? error->message : ""));
  TRACE ("Error code = " + QString::number (error != NULL ? error->code : 0));
  Q_EMIT signalBackendError (backend, error);
}

void
BackupMainView::backendFinished (SfBackend *backend)
{
  Q_EMIT signalBackendFinished (backend);
}

void
BackupMainView::backendCancelled (SfBackend *backend)
{
  Q_EMIT signalBackendCancelled (backend);
}

void
BackupMainView::targetAdded (SfTargetManager *manager, SfTarget *target)
{
  utils->getTargets ();
  utils->updateDisplayNames ();
  Q_EMIT targetAddedSignal (manager, target);
  connectTarget (target);
  backupsChanged ();
}

void
BackupMainView::targetRemoved (SfTargetManager *manager, SfTarget *target)
{
  utils->getTargets ();
  Q_EMIT targetRemovedSignal (manager, target);
  auto found = targetHandlers.find (target);
  if (found != targetHandlers.end ())
    {
      g_signal_handler_disconnect (target, found.value ());
      targetHandlers.erase (found);
      g_object_unref (target);
    }
  backupsChanged ();
}

void
BackupMainView::backupsChanged ()
{
  Q_EMIT signalEngineEmittedBackupChanged ();
  utils->getTargets ();
  if (!isBusy ())
    {
      TRACE ("******* backup changed, calling setBackupInfo()");
      setupBackupsInfo ();
    }
  else
    TRACE ("backend is busy, not updating the UI now");
}

void
BackupMainView::backupsListLoadComplete ()
{
  TRACE ("Backup list loading is completed");
  Q_EMIT signalBackendListLoadingComplete ();
}

void
BackupMainView::isTargetAvailable (SfTarget *target, GParamSpec *pspec)
{
  Q_EMIT isAvailableNotification (target, pspec);
}

/* Page states and the list. */

void
BackupMainView::setupBackupsInfo ()
{
  if (exiting || finishingRestore)
    {
      TRACE ("Will not try to update the UI as it is already exiting");
      return;
    }
  pcConnected = isConnectedToPC ();
  if (pcConnected && !isLumoRequestsRunning ())
    {
      showNoActivityPossibleView ();
      return;
    }
  if (launchedFromDBus)
    {
      if (ssuBackupStarted)
        {
          TRACE ("Will not update UI, backup started from SSU Update");
          return;
        }
      QTimer::singleShot (0, this, &BackupMainView::reopenNewBackupDialog);
    }
  if (isBusy () || isLumoRequestsRunning ())
    {
      TRACE ("Backend is busy, no UI update");
      return;
    }
  if (listRefreshing)
    {
      /* The manager ignores a load while one runs, and that one may have read the targets
       * before this change: load again once it is in. */
      TRACE ("List is loading, loading again afterwards");
      reloadAfterLoad = true;
      return;
    }
  listRefreshing = true;
  newBackupButton->setEnabled (false);
  /* Later loads replace the list in place: the sheets and queries open over it stay. */
  if (firstLoad)
    showLoading (true);
  firstLoad = false;
  sf_target_manager_load_backups_async (manager);
}

void
BackupMainView::reopenNewBackupDialog ()
{
  for (QDialog *dialog : findChildren<QDialog *> ())
    if (dialog->isVisible ())
      {
        TRACE ("A sheet or query is open, the new backup sheet waits");
        return;
      }
  slotDBusOpenNewBackupDialog ();
}

void
BackupMainView::showLoading (bool loading)
{
  showPage (loading ? loadingPage : mainPage);
}

void
BackupMainView::slotLoadBackupList ()
{
  releaseBackups ();
  GList *loaded = sf_target_manager_get_backups (manager);
  for (GList *link = loaded; link != NULL; link = link->next)
    backups.append (sf_backup_info_ref (static_cast<SfBackupInfo *> (link->data)));
  g_list_free (loaded);
  followSelectedBackup ();
  QMetaObject::invokeMethod (this, &BackupMainView::backupListLoadingComplete,
                             Qt::QueuedConnection);
}

void
BackupMainView::releaseBackups ()
{
  if (list != nullptr)
    list->setBackups ({});
  for (SfBackupInfo *info : std::as_const (backups))
    sf_backup_info_unref (info);
  backups.clear ();
}

bool
BackupMainView::selectionIsListed ()
{
  if (selectedBackup != nullptr && backups.contains (selectedBackup))
    return true;
  if (selectedBackup != nullptr)
    TkBanner::showText (this,
                        qtTrId ("qtn_back_backup_gone")
                            .arg (QString::fromUtf8 (sf_backup_info_get_name (selectedBackup))));
  return false;
}

void
BackupMainView::followSelectedBackup ()
{
  if (selectedBackup == nullptr)
    return;
  GFile *directory = sf_backup_info_get_uri (selectedBackup);
  for (SfBackupInfo *info : std::as_const (backups))
    if (g_file_equal (sf_backup_info_get_uri (info), directory))
      {
        selectBackup (info);
        return;
      }
  bool sheetOpen = (itemDialog != nullptr && itemDialog->isVisible ())
                   || (passwordQuery != nullptr && passwordQuery->isVisible ());
  if (!sheetOpen)
    return;
  TRACE ("The backup of the open sheet is gone");
  if (itemDialog != nullptr)
    itemDialog->reject ();
  if (passwordQuery != nullptr)
    passwordQuery->reject ();
  selectionIsListed ();
}

void
BackupMainView::backupListLoadingComplete ()
{
  list->setBackups (backups);
  /* Cleared first: the deferred open of the new-backup sheet waits for it. */
  listRefreshing = false;
  if (pcConnected && !isLumoRequestsRunning ())
    showNoActivityPossibleView ();
  else if (backups.isEmpty ())
    showEmptyStateView ();
  else
    showListView ();
  showLoading (false);
  newBackupButton->setEnabled (!isBusy ());
  Q_EMIT backupsUpdated ();
  if (openDialogAfterLoad)
    {
      openDialogAfterLoad = false;
      openNewBackupDialog (false);
    }
  if (reloadAfterLoad)
    {
      reloadAfterLoad = false;
      setupBackupsInfo ();
    }
}

void
BackupMainView::showNoActivityPossibleView ()
{
  if (finishingRestore)
    return;
  Q_EMIT signalCloseAllSubWindows ();
  TRACE ("Connected to PC, not activities are possible");
  newBackupButton->hide ();
  views->setCurrentIndex (NoActivityView);
}

void
BackupMainView::showListView ()
{
  TRACE ("List view is activated");
  newBackupButton->show ();
  views->setCurrentIndex (ListView);
}

void
BackupMainView::showEmptyStateView ()
{
  TRACE ("No backups, showing Empty state view");
  newBackupButton->show ();
  views->setCurrentIndex (EmptyStateView);
}

/* Connection to a PC. */

bool
BackupMainView::isConnectedToPC ()
{
  if (unitTestMode)
    {
      TRACE ("UNIT TESTING CODE, NO CHECK FOR PC CONNECTION");
      return false;
    }
  if (usbWatcher != nullptr && usbWatcher->isConnectedToPC ())
    return true;
  return lumoSuiteWatcher != nullptr && lumoSuiteWatcher->isConnected ();
}

bool
BackupMainView::isUsbConnectedInMSMMode ()
{
  return usbWatcher != nullptr && usbWatcher->isUsbConnectedInMSMMode ();
}

bool
BackupMainView::lumoSuiteConnected ()
{
  return QFileInfo::exists (QDir::homePath () + QStringLiteral ("/.deskmate"));
}

void
BackupMainView::slotPCConnectionSignalReceived ()
{
  if (isBusy ())
    {
      TRACE ("**** Backend is busy, pc connection signal is ignored ****");
      return;
    }
  bool connected = isConnectedToPC ();
  TRACE (QStringLiteral ("isConnectedToPC() method returned --- ")
         + (connected ? QStringLiteral ("true") : QStringLiteral ("false")));
  if (connected == pcConnected)
    {
      TRACE ("No Change in connection state");
      return;
    }
  pcConnected = connected;
  TRACE ("Connection state changed, need to redraw");
  setupBackupsInfo ();
}

void
BackupMainView::slotTriedToRelaunch ()
{
  TRACE ("Tried to relaunch the application");
  if (isBusy ())
    TRACE ("Backend is busy, no UI update possible");
  else if (isLumoRequestsRunning ())
    TRACE ("Lumo request are running, no UI update");
  else if (!launchedFromDBus)
    {
      TRACE ("Tried to launch application again, closing all subviews");
      Q_EMIT signalCloseAllSubWindows ();
    }
  else
    TRACE ("Safehold is launched from SSU, no UI update");
}

bool
BackupMainView::setServiceMode (bool on)
{
  serviceMode = on;
  TRACE (QStringLiteral ("BackupMainView::setServiceMode: ")
         + (on ? QStringLiteral ("true") : QStringLiteral ("false")));
  setVisible (!on);
  return true;
}

void
BackupMainView::setLaunchedFromDBus (bool launched)
{
  launchedFromDBus = launched;
  if (newBackupDialog != nullptr)
    newBackupDialog->setLaunchedFromDBus (launched);
}

/* Progress. */

void
BackupMainView::slotProgressUpdated (SfBackend *, int, int, int complete, SfCategory)
{
  TRACE ("************** complete value = " + QString::number (complete)
         + "% *********************");
  Q_EMIT signalBackendItemProgress (qMax (complete, 3));
}

void
BackupMainView::completeProgressIndicator ()
{
  TRACE ("Backup engine finished, progress indicator completed");
}

/* Closing. */

void
BackupMainView::closeApplication ()
{
  close ();
}

/* Records of an interrupted operation, and the package manager after a restore. */

bool
BackupMainView::isNeededToInvokePackageManager ()
{
  SfRestoreFailure *failure = NULL;
  SfCategory written = SfCategory (0);
  gint64 size = 0;
  if (!sf_utils_read_last_restore (&failure, &written, &size))
    {
      TRACE ("No last restore found");
      return false;
    }
  if (failure != NULL)
    sf_restore_failure_unref (failure);
  TRACE ("Did a restore just now");
  if ((written & SF_CATEGORY_APPLICATIONS) == 0)
    return false;
  TRACE ("Applications were restored, need to start package manager");
  sf_utils_remove_last_restore ();
  return true;
}

void
BackupMainView::showInterruptedNotificationIfNeeded ()
{
  BackupLastStateInfo lastState;
  QString name;
  QString text;
  QString backupsFolder;
  if (lastState.isBackupOpInterrupted (name, backupsFolder))
    {
      text = qtTrId ("qtn_back_backupinterrupted");
      bool nameIsSafe = !name.isEmpty () && !name.contains ('/') && name != QLatin1String ("..")
                        && name != QLatin1String (".");
      /* A marker of an earlier version names no memory: the internal one, and only a folder
       * that is no complete backup. */
      bool recorded = !backupsFolder.isEmpty ();
      if (!recorded)
        backupsFolder = QDir::homePath () + QStringLiteral ("/MyDocs/.backups");
      QString path = backupsFolder + '/' + name;
      TRACE ("Last Backup Name = " + name + " in " + backupsFolder);
      if (!nameIsSafe || !backupsFolder.endsWith (QLatin1String ("/.backups")))
        TRACE ("The marker names no backup folder, nothing removed");
      else if (recorded && interruptedBackupIsWhole (path, lastState.getBackupLockFileName ()))
        {
          TRACE ("The interrupted backup was written whole, keeping it: " + path);
          text.clear ();
        }
      else if (!recorded && isReadableBackup (path))
        TRACE ("A complete backup of that name is kept: " + path);
      else
        {
          TRACE ("Removing incomplete backup = " + path);
          BackupRestoreUtils::deleteFileRecursively (path);
        }
    }
  else if (lastState.isRestoreOpInterrupted ())
    text = qtTrId ("qtn_back_restoreinterrupted");
  if (!text.isEmpty ())
    {
      TkNotification::publish (QStringLiteral ("device.error"), QString (), text);
      TkFeedback ().play (QStringLiteral ("warning_snd"));
    }
  lastState.unlockBackupInfo ();
  lastState.unlockRestoreInfo ();
}
