#pragma once

#include "sf-backend.h"
#include "sf-target.h"
#include "sf-user-files.h"

#include "BackupLastStateInfo.h"
#include "DBusMethodCaller.h"

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

/* Drives one backup: records it, tells the applications, checks the space, starts the backend,
 * tells the applications it is over, cleans up after a failure and reports one status code
 * (100 completed, 101 cancelled, 102 not enough space, 103 other failure). The owner implements
 * EngineOwner. Main thread only. */
class BackupEngine : public QObject
{
  Q_OBJECT

public:
  /* parameters: "name", "notes" and "password" (empty for none). */
  BackupEngine (SfBackend *backend, SfTarget *target, int categories, QObject *owner,
                QVariantMap parameters);
  ~BackupEngine () override;

  void startBackup ();
  /* Ignored once the backup can no longer be cancelled. */
  void cancelBackup ();
  /* False once the backend reported the backup finished or the engine settled its result. */
  bool isCancellable () const;
  /* The engine error code (SfError) of a failed backup, -1 when there is none. */
  int failureCode () const;

Q_SIGNALS:
  void backupEngineStarted ();
  void backupEngineFinished (int statusCode);
  void cancellingIsInitiated ();
  /* The backup is complete or settled: a cancel from now on changes nothing. */
  void cancelNoLongerPossible ();

public Q_SLOTS:
  void slotBackendError (SfBackend *backend, GError *error);
  void slotBackendFinished (SfBackend *backend);
  void slotBackendCancelled (SfBackend *backend);
  void slotCancelLumoSuiteBackup (bool &cancelable);
  void slotPermanentCallsFinished (DBusCallStatus status, QString methodName);
  void slotTemporaryCallsFinished (DBusCallStatus status, QString methodName);
  void checkAndStartBackup ();
  void slotEmitBackupFinishedSignal ();
  void slotOnBackupsChangedSignalReceived ();

private:
  QString backupName () const;
  QString backupsFolder () const;
  bool memoryIsReadOnly () const;
  void stopCancelling ();
  bool requestCancel ();
  void collectBackupData ();
  bool notifyDBusApps (int type, const QString &methodName, int timeout);
  int createBackup ();
  void savePermanentFileList ();
  void setFinalizing ();
  void finishFromBackend (SfBackend *backend);
  void backupDone (int status);
  void removeEmptyDirs (const QString &path);
  /* False when a folder of this backup may still be there. */
  bool removeInterruptedBackupFile ();
  void freeUserFiles ();

  int processedFiles = -1;
  bool backendCancelResult = false;
  SfBackend *backend;
  SfTarget *target;
  SfUserFiles *userFiles = nullptr;
  int categories;
  QVariantMap parameters;
  GError *error = nullptr;
  QObject *owner;
  DBusMethodCaller permanentCaller;
  DBusMethodCaller temporaryCaller;
  bool permanentDone = true;
  bool temporaryDone = true;
  bool cancelRequested = false;
  QStringList backupNameList;
  bool inProgress = false;
  int statusCode = 100;
  qint64 startTime;
  BackupLastStateInfo lastStateInfo;
  QTimer finishTimer;
  /* The backend reported the backup finished, or the result is settled. */
  bool completing = false;
  /* backupDone ran: the result is settled. */
  bool finished = false;
  bool backendStarted = false;
  bool folderExistedBefore = false;
};
