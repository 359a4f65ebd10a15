#pragma once

#include "sf-backend.h"
#include "sf-backup-info.h"
#include "sf-category.h"
#include "sf-target-manager.h"

#include "EngineOwner.h"
#include "TkApplicationWindow.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QString>

#include <vector>

/* Engine objects travel through signals as pointers to types the engine keeps private. */
Q_DECLARE_OPAQUE_POINTER (SfBackend *)
Q_DECLARE_OPAQUE_POINTER (SfTargetManager *)

class BackupEngine;
class BackupList;
class BackupItemDialog;
class BackupRestoreErrorUtils;
class BackupRestoreUtils;
class BackupService;
class ContextMonitor;
class FeedbackClientWrapper;
class LumoSuiteWatcher;
class NewBackupDialog;
class PasswordQuerySheet;
class ProcessSheet;
class ProgressReporter;
class QDialog;
class QLabel;
class QPushButton;
class QStackedWidget;
class RestoreEngine;
class TkMessageBox;
class TkPage;
class UsbModeWatcher;

/* The application's window and the controller of every operation: it owns the backend and the
 * target manager for the life of the process, turns their GObject signals into its own Qt
 * signals, shows the backups (or why there are none, or why nothing can be done now) and runs
 * the new backup, restore, delete, cancel and close flows, and those the desktop suite asks for.
 * One instance per process. GUI thread only. */
class BackupMainView : public TkApplicationWindow, public EngineOwner
{
  Q_OBJECT
  Q_INTERFACES (EngineOwner)

public:
  /* finishRestore: only ask whether to open the package manager, then close. */
  BackupMainView (QWidget *parent, bool finishRestore, bool serviceMode);
  ~BackupMainView () override;

  /* The one instance, or null. */
  static BackupMainView *instance ();

  SfBackend *getBackend () override
  {
    return backend;
  }
  SfTargetManager *getTargetManager () const
  {
    return manager;
  }
  bool removeBackupFolder (SfTarget *target, QString name) override;
  /* What the last restore could not restore, with the reasons, once it has finished; borrowed,
   * valid until the next operation starts; null when no restore ran. */
  SfRestoreFailure *getRestoreFailure () const;

  bool isBusy () const
  {
    return backupRunning || restoreRunning;
  }
  bool backupIsRunning () const
  {
    return backupRunning;
  }
  bool restoreIsRunning () const
  {
    return restoreRunning;
  }
  /* A list reload is under way. */
  bool isListRefreshing () const
  {
    return listRefreshing;
  }
  /* Started only to offer the package manager after a restore: no list, no operations. */
  bool isFinishingRestore () const
  {
    return finishingRestore;
  }
  bool isLumoRequestsRunning () const;
  bool isConnectedToPC ();
  bool isUsbConnectedInMSMMode ();
  static bool lumoSuiteConnected ();
  bool isServiceMode () const
  {
    return serviceMode;
  }
  bool setServiceMode (bool on);
  void setLaunchedFromDBus (bool launched);
  bool isLaunchedFromDBus () const
  {
    return launchedFromDBus;
  }
  /* Test mode: no PC connection check and no reboot. */
  void setUnitTestMode (bool on)
  {
    unitTestMode = on;
  }
  void setBackupService (BackupService *service)
  {
    backupService = service;
  }
  QString getCachedTranslation (const QString &id);

  /* The target new backups go to: the first with a display name. Borrowed; null without any. */
  SfTarget *getDefaultTarget () const;
  /* The backups shown, newest first; borrowed. */
  const QList<SfBackupInfo *> &currentBackups () const
  {
    return backups;
  }
  bool hasEnoughFreeSpaceforRestore ();

  /* Desktop-suite operations; each ends with signalLumoSuiteOperationFinished. */
  void startLumoSuiteBackup (SfCategory categories);
  void startLumoSuiteRestore (SfCategory categories);
  /* The suite backup's files: 0 its metadata, else each category's archive. */
  QMap<int, QString> getLumoSuiteFileList ();
  QString getLumoSuiteFilePath (int id);
  bool removeLumoSuiteBackup ();
  void cancelLumoSuiteOperation (bool &cancelable);
  /* Whether the last suite restore left any of its categories unrestored. */
  bool lumoSuiteRestoreFailed () const
  {
    return lumoRestoreFailed;
  }

  /* Whether the last restore wrote the application list; then its record is cleared, so the
   * package manager is offered once. */
  static bool isNeededToInvokePackageManager ();
  /* Reports, once, a backup or restore that was cut off by a reboot or crash. */
  static void showInterruptedNotificationIfNeeded ();

  /* GObject signal targets, called by the callbacks in BackupMainViewCallbacks. */
  void backendProgress (SfBackend *backend, int files, int total, int complete,
                        SfCategory category);
  void backendError (SfBackend *backend, GError *error);
  void backendFinished (SfBackend *backend);
  void backendCancelled (SfBackend *backend);
  void targetAdded (SfTargetManager *manager, SfTarget *target);
  void targetRemoved (SfTargetManager *manager, SfTarget *target);
  void backupsChanged ();
  void backupsListLoadComplete ();
  void isTargetAvailable (SfTarget *target, GParamSpec *pspec);

Q_SIGNALS:
  void targetAddedSignal (SfTargetManager *manager, SfTarget *target);
  void targetRemovedSignal (SfTargetManager *manager, SfTarget *target);
  void isAvailableNotification (SfTarget *target, GParamSpec *pspec);
  void signalBackendProgress (SfBackend *backend, int files, int total, int complete,
                              SfCategory category);
  void signalBackendError (SfBackend *backend, GError *error);
  void signalBackendFinished (SfBackend *backend);
  void signalBackendCancelled (SfBackend *backend);
  void signalCancelLumoSuiteOperation (bool &cancelable);
  void signalLumoSuiteOperationFinished (int result);
  void signalCloseAllSubWindows ();
  void signalBackendItemProgress (int progress);
  void backupsUpdated ();
  void signalBackendListLoadingComplete ();
  void signalEngineEmittedBackupChanged ();

public Q_SLOTS:
  void slotBackupEngineFinished (int statusCode);
  void listItemTapped (void *magic);
  void listRestoreRequested (void *magic);
  void listDeleteRequested (void *magic);
  void rebootAfterRestore ();
  void closeApplication ();
  void slotFinishLumoSuiteOperation (int result);
  void slotDBusOpenNewBackupDialog ();
  void setupBackupsInfo ();
  void slotRestoreCancelRequested ();
  void slotBackupCancelRequested ();
  void slotTriedToRelaunch ();

private Q_SLOTS:
  void slotOpenNewBackupDialog ();
  void slotBackupEngineStarted ();
  void slotProgressUpdated (SfBackend *backend, int files, int total, int complete,
                            SfCategory category);
  void slotRestoreEngineStarted ();
  void slotRestoreEngineFinished (int statusCode);
  void slotLumosuiteBackupEngineFinished (int statusCode);
  void slotLumosuiteRestoreEngineFinished (int statusCode);
  void slotAttemptedToCloseApplication ();
  void showPackageManagerQueryDialog (bool closeWhenDone);
  void slotDeleteCurrentlySelectedBackup ();
  void startRestore ();
  void slotRestoreConfirmed ();
  void slotCancelBackup ();
  void slotBackupTimerTriggered ();
  void slotStartBackupWithSavedNote ();
  void slotPCConnectionSignalReceived ();
  void slotLoadBackupList ();
  void slotCancelCloseDialogRejected ();
  void slotCancelBackupAndExitAccepted ();
  void backupListLoadingComplete ();
  void launchPackageManager (int result);
  void launchPackageManagerAndClose (int result);
  void processCancelDialog (int result);
  void completeProgressIndicator ();
  void slotNewBackupDialogClosed (int result);

protected:
  bool event (QEvent *event) override;

private:
  void initBackupEngine ();
  void connectEngineSignals ();
  void connectTarget (SfTarget *target);
  void buildPage ();
  void translateUi ();
  void showNoActivityPossibleView ();
  void showListView ();
  void showEmptyStateView ();
  void showLoading (bool loading);
  void openNewBackupDialog (bool animated);
  /* Brought up for a software update: a reload brings the new-backup sheet back, but never over
   * (or by closing) a sheet or query the user has open. */
  void reopenNewBackupDialog ();
  void showLumoSuiteConnectedBanner ();
  bool isBatterySufficient ();
  void startBackup (const QString &notes);
  QString nextBackupName () const;
  void deleteEngines ();
  /* Keeps a reference on info (null forgets the selection). */
  void selectBackup (SfBackupInfo *info);
  void startRestoreWithPassword (const QString &password);
  void initiateRebootProcedure ();
  void handleOsUpdateBackupFinish (int statusCode);
  /* Why the last backup failed, as its engine's error code; -1 when unknown. */
  int backupFailureCode () const;
  void openOsUpdateBackupFinidhedView ();
  void releaseBackups ();
  /* After a reload: moves the selection to the listed record of the same backup, or closes the
   * sheets about it when it is gone. */
  void followSelectedBackup ();
  /* Whether the selection is listed; if not, says so when it names a backup that is gone. */
  bool selectionIsListed ();
  SfBackupInfo *findLumoSuiteBackup () const;

  /* The process's backend, made on first use and kept to the end of the process. */
  static SfBackend *processBackend ();

  static BackupMainView *instance_;

  bool finishingRestore;
  bool serviceMode;
  bool backupRunning = false;
  bool restoreRunning = false;
  bool exiting = false;
  bool pcConnected = true;
  bool launchedFromDBus = false;
  bool ssuBackupStarted = false;
  bool unitTestMode = false;
  bool listRefreshing = false;
  bool firstLoad = true;
  bool openDialogAfterLoad = false;
  bool reloadAfterLoad = false;
  bool lumoRestoreFailed = false;
  SfBackupInfo *selectedBackup = nullptr;
  QList<SfBackupInfo *> backups;
  QString pendingNote;
  QString pendingPassword;
  /* The name of the backup started from the window, for the word said when it is done. */
  QString runningBackupName;
  QHash<QString, QString> translationCache;
  QPointer<QDialog> closeDialog;

  SfBackend *backend = nullptr;
  SfTargetManager *manager = nullptr;
  QHash<SfTarget *, gulong> targetHandlers;
  std::vector<gulong> backendHandlers;
  std::vector<gulong> managerHandlers;

  UsbModeWatcher *usbWatcher = nullptr;
  LumoSuiteWatcher *lumoSuiteWatcher = nullptr;
  ContextMonitor *contextMonitor = nullptr;
  BackupRestoreUtils *utils = nullptr;
  BackupRestoreErrorUtils *errorUtils = nullptr;
  ProgressReporter *progressReporter;
  FeedbackClientWrapper *feedback;
  BackupService *backupService = nullptr;

  TkPage *mainPage;
  TkPage *loadingPage;
  QStackedWidget *views = nullptr;
  BackupList *list = nullptr;
  QLabel *emptyStateLabel = nullptr;
  QLabel *noActivityLabel = nullptr;
  QPushButton *newBackupButton = nullptr;

  QPointer<BackupEngine> backupEngine;
  QPointer<RestoreEngine> restoreEngine;
  QPointer<NewBackupDialog> newBackupDialog;
  QPointer<BackupItemDialog> itemDialog;
  QPointer<PasswordQuerySheet> passwordQuery;
  QPointer<TkMessageBox> cancelQuery;
  QPointer<ProcessSheet> processSheet;
};
