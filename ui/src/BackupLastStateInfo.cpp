#include "BackupLastStateInfo.h"

#include "Tracing.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

int BackupLastStateInfo::applicationLockDescriptor = -1;
int BackupLastStateInfo::msmLockDescriptor = -1;

namespace
{
const char *const stateDir = ".safehold/";
const char *const msmDir = "/MyDocs/.tmp/";
const char *const restoreMarkerText = "Restore In Progress";
/* A marker holds a backup name; anything longer is not one of ours. */
const qint64 markerReadLimit = 4096;

QString
quoted (const QString &path)
{
  return "\"" + path + "\"";
}
} // namespace

BackupLastStateInfo::BackupLastStateInfo ()
{
  TRACE ("BackupLastStateInfo");
}

BackupLastStateInfo::~BackupLastStateInfo ()
{
  TRACE ("~BackupLastStateInfo");
}

QString
BackupLastStateInfo::getBackupLockFileName ()
{
  QString path = QDir::homePath () + "/" + stateDir + "backuplockfile";
  TRACE ("getBackupLockFileName " + quoted (path));
  return path;
}

QString
BackupLastStateInfo::getRestoreLockFileName ()
{
  QString path = QDir::homePath () + "/" + stateDir + "restorelockfile";
  TRACE ("getRestoreLockFileName " + quoted (path));
  return path;
}

QString
BackupLastStateInfo::getAppLockFileName ()
{
  QString path = QDir::homePath () + "/" + stateDir + "backupapplockfile";
  TRACE ("getAppLockFileName " + quoted (path));
  return path;
}

QString
BackupLastStateInfo::getMSMLockFileName ()
{
  return QDir::homePath () + msmDir + "backupmsmlockfile";
}

void
BackupLastStateInfo::createParentDir (const QString &path)
{
  QString dir = path.left (path.lastIndexOf ('/'));
  if (!QDir (dir).exists ())
    QDir ().mkpath (dir);
}

void
BackupLastStateInfo::lockFile (const QString &path, const QString &content)
{
  TRACE ("lockFile");
  createParentDir (path);
  QFile file (path);
  if (!file.open (QIODevice::WriteOnly | QIODevice::Truncate))
    return;
  TRACE ("Lock the file " + quoted (path));
  file.write (content.toLatin1 ());
  file.flush ();
  file.close ();
}

void
BackupLastStateInfo::unlockFile (const QString &path)
{
  TRACE ("Unlocking file: " + quoted (path));
  QFile::remove (path);
}

void
BackupLastStateInfo::lockBackupInfo (QString name)
{
  TRACE ("lockBackupInfo");
  lockFile (getBackupLockFileName (), name);
}

void
BackupLastStateInfo::unlockBackupInfo ()
{
  TRACE ("unlockBackupInfo");
  unlockFile (getBackupLockFileName ());
}

void
BackupLastStateInfo::lockRestoreInfo ()
{
  TRACE ("lockRestoreInfo");
  lockFile (getRestoreLockFileName (), restoreMarkerText);
}

void
BackupLastStateInfo::unlockRestoreInfo ()
{
  TRACE ("unlockRestoreInfo");
  unlockFile (getRestoreLockFileName ());
}

bool
BackupLastStateInfo::isRestoreOpInterrupted ()
{
  bool result = QFile::exists (getRestoreLockFileName ());
  TRACE (QString ("result: ") + (result ? "true" : "false"));
  return result;
}

bool
BackupLastStateInfo::isBackupOpInterrupted (QString &name)
{
  QFile file (getBackupLockFileName ());
  bool result = file.exists ();
  TRACE (QString ("result: ") + (result ? "true" : "false"));
  if (result && file.open (QIODevice::ReadOnly | QIODevice::Text))
    {
      QByteArray text = file.read (markerReadLimit).trimmed ();
      qsizetype end = text.indexOf ('\0');
      name = QString::fromLatin1 (end < 0 ? text : text.left (end));
      file.close ();
    }
  return result;
}

bool
BackupLastStateInfo::isAnyOperationInterrupted ()
{
  QString name;
  bool result = isBackupOpInterrupted (name) || isRestoreOpInterrupted ();
  TRACE (QString ("result: ") + (result ? "true" : "false"));
  return result;
}

int
BackupLastStateInfo::getExclusiveLock (const QString &path)
{
  createParentDir (path);
  /* The mass-storage folder is written by whoever mounts it over USB: never follow a link there. */
  int descriptor = open (QFile::encodeName (path).constData (),
                         O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (descriptor < 0)
    return -1;
  if (flock (descriptor, LOCK_EX | LOCK_NB) != 0)
    {
      close (descriptor);
      return -1;
    }
  return descriptor;
}

void
BackupLastStateInfo::releaseExclusiveLock (int descriptor, const QString &path)
{
  TRACE ("Releasing the lock on " + quoted (path));
  if (descriptor == -1)
    {
      TRACE ("The lock is already released");
      return;
    }
  flock (descriptor, LOCK_UN);
  close (descriptor);
  QFile::remove (path);
}

bool
BackupLastStateInfo::getApplicationLock ()
{
  if (applicationLockDescriptor != -1)
    return true;
  applicationLockDescriptor = getExclusiveLock (getAppLockFileName ());
  if (applicationLockDescriptor != -1)
    {
      TRACE ("Application lock obtained");
      return true;
    }
  TRACE ("Not able to obtain application lock");
  return false;
}

void
BackupLastStateInfo::releaseApplicationLock ()
{
  TRACE ("Releasing application lock");
  releaseExclusiveLock (applicationLockDescriptor, getAppLockFileName ());
  applicationLockDescriptor = -1;
}

bool
BackupLastStateInfo::lockMSM ()
{
  TRACE ("Locking the mass storage mode");
  if (msmLockDescriptor != -1)
    {
      TRACE ("Mass storage mode is already disabled");
      return true;
    }
  msmLockDescriptor = getExclusiveLock (getMSMLockFileName ());
  if (msmLockDescriptor != -1)
    {
      TRACE ("File lock obtained to disable mass storage mode");
      return true;
    }
  TRACE ("Could not disable MSM Mode, File locking failed");
  return false;
}

void
BackupLastStateInfo::unlockMSM ()
{
  TRACE ("Removing the mass storage mode lock");
  releaseExclusiveLock (msmLockDescriptor, getMSMLockFileName ());
  msmLockDescriptor = -1;
}
