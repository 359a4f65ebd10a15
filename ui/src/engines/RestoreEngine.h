#pragma once

#include "sf-backend.h"
#include "sf-backup-info.h"
#include "sf-restore-failure.h"

#include "BackupLastStateInfo.h"
#include "DBusMethodCaller.h"
#include "RestoreRoomCheck.h"

#include <QObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QThread;

/* Drives one restore: records it, switches the cellular radio off, tells the applications,
 * checks every category archive, clears the current files of the categories that checked out,
 * has the backend restore them, tells the applications again, writes the last-restore record and
 * reports 200 (restored), 203 (application list restored) or 204 (settings restored, reboot).
 * The owner implements EngineOwner. Lives on the main thread; only the removal of files runs on
 * a short-lived thread of its own. */
class RestoreEngine : public QObject
{
  Q_OBJECT

public:
  /* The categories come from info; categories is not used. password may be empty. */
  RestoreEngine (QObject *owner, SfBackupInfo *info, int categories, QString password);
  ~RestoreEngine () override;

  void startRestore ();
  void startLumoSuiteRestore ();
  bool isLumoSuiteRestore () const;
  /* How long the applications told "restore" are waited for; for tests. Main thread. */
  static void setRestoreAnswerTimeout (int milliseconds);
  /* Every category that could not be restored, with its reason, once the restore has finished
   * (also when restoreEngineFinished is emitted); borrowed, valid while the engine lives. */
  SfRestoreFailure *getRestoreFailure () const;

Q_SIGNALS:
  void restoreEngineStarted ();
  void restoreEngineFinished (int statusCode);

public Q_SLOTS:
  void slotBackendError (SfBackend *backend, GError *error);
  void slotBackendFinished (SfBackend *backend);
  void slotBackendCancelled (SfBackend *backend);
  void slotPermanentAppNotificationComplete (DBusCallStatus status, QString methodName);
  void slotTemporaryAppNotificationComplete (DBusCallStatus status, QString methodName);
  void initiateRestore ();
  void removeTempFiles ();
  void removePermanentFiles ();
  void asyncInitiateRestore ();
  void asyncRestoreFinished ();

private:
  /* An include path and the categories of the location that declares it. */
  struct Location
  {
    QString path;
    int categories;
  };

  void start ();
  void switchOffCellularAndWLan ();
  void solvePermanentRestoration ();
  void checkArchives ();
  void checkRoom ();
  void failCategories (int mask, int reason);
  void removeLocations (const QList<Location> &locations);
  void startBackendRestore ();
  void setFinalizing ();
  void collectRestoreData ();
  void finishRestore (SfCategory written, guint64 restoredSize);
  /* An application that did not answer "restore" in time may still be reading its export area:
   * it stays until the next backup or restore starts. */
  void keepAreasOfLateApplications ();
  void restoreDone (int status);
  /* Runs work on a thread of its own, then then on the main thread. */
  void runOffMainThread (std::function<void ()> work, std::function<void ()> then);

  SfBackend *backend;
  QString password;
  QObject *owner;
  int categories;
  BackupLastStateInfo lastStateInfo;
  SfBackupInfo *backupInfo;
  DBusMethodCaller permanentCaller;
  DBusMethodCaller temporaryCaller;
  bool permanentDone = true;
  bool temporaryDone = true;
  bool restoreInProgress = false;
  bool lumoSuiteRestore = false;
  qint64 startTime;
  bool backendStarted = false;
  /* Filled on the main thread before the first worker starts, read by the workers. */
  QList<Location> temporaryLocations;
  QList<Location> permanentLocations;
  /* The engine's own record of the backup for the check thread, so that nothing else touches
   * the shared one off the main thread. */
  SfBackupInfo *checkInfo = nullptr;
  /* Written by the check thread, read on the main thread after it ended. */
  int checkedCategories = 0;
  QList<QPair<int, int>> checkFailures;
  RestoreRoomCheck room;
  SfRestoreFailure *failure;
  std::unique_ptr<QThread> worker;
  static int restoreAnswerTimeout;
};
