#pragma once

#include <QString>

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

  void lockBackupInfo (QString name);
  void unlockBackupInfo ();
  void lockRestoreInfo ();
  void unlockRestoreInfo ();

  /* True while a backup marker exists; name receives the backup it names when it can be read. */
  bool isBackupOpInterrupted (QString &name);
  bool isRestoreOpInterrupted ();
  bool isAnyOperationInterrupted ();

  /* False when another process holds the lock. */
  bool getApplicationLock ();
  void releaseApplicationLock ();
  bool lockMSM ();
  void unlockMSM ();

private:
  void createParentDir (const QString &path);
  void lockFile (const QString &path, const QString &content);
  void unlockFile (const QString &path);
  int getExclusiveLock (const QString &path);
  void releaseExclusiveLock (int descriptor, const QString &path);

  static int applicationLockDescriptor;
  static int msmLockDescriptor;
};
