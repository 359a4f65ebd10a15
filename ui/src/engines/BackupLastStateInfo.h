#pragma once

#include <QString>
#include <QStringList>

/* Records of a running backup or restore that survive a crash, the single-instance lock of the
 * application and the lock that keeps USB mass-storage mode off. Holds no data itself: the two lock
 * descriptors are shared by every instance in the process. Main thread only, except that the
 * restore engine releases its marker and mass-storage lock from its finishing thread. */
class BackupLastStateInfo
{
public:
  BackupLastStateInfo ();
  ~BackupLastStateInfo ();

  QString getBackupLockFileName ();
  QString getRestoreLockFileName ();
  QString getAppLockFileName ();
  QString getMSMLockFileName ();
  QString getKeptExportAreasFileName ();

  /* backupsFolder: the local folder the backup is written into, so that only it is cleaned up
   * after a crash. */
  void lockBackupInfo (QString name, QString backupsFolder = QString ());
  void unlockBackupInfo ();
  void lockRestoreInfo ();
  void unlockRestoreInfo ();

  /* True while a backup marker exists; name receives the backup it names when it can be read. */
  bool isBackupOpInterrupted (QString &name);
  /* The same; backupsFolder receives the folder recorded with the name, empty in a marker that
   * has none. */
  bool isBackupOpInterrupted (QString &name, QString &backupsFolder);
  bool isRestoreOpInterrupted ();
  bool isAnyOperationInterrupted ();
  /* Whether a backup described at descriptionTime (seconds) was described after its marker was
   * written at markerTime (milliseconds), both since the epoch. Any thread. */
  static bool describedSinceMarker (qint64 descriptionTime, qint64 markerTime);

  /* Export areas an application may still be reading: left in place now, and removed by the next
   * clearKeptExportAreas(), which removes only paths that are still ordinary locations. */
  void keepExportAreas (const QStringList &paths);
  void clearKeptExportAreas ();

  /* False when another process holds the lock. */
  bool getApplicationLock ();
  void releaseApplicationLock ();
  bool lockMSM ();
  void unlockMSM ();

private:
  void createParentDir (const QString &path);
  void lockFile (const QString &path, const QByteArray &content);
  void unlockFile (const QString &path);
  int getExclusiveLock (const QString &path);
  void releaseExclusiveLock (int descriptor, const QString &path);

  static int applicationLockDescriptor;
  static int msmLockDescriptor;
};
