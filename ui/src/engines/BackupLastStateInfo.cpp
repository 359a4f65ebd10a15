#include "sf-backup-configurations.h"

#include "BackupLastStateInfo.h"

#include "Tracing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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
/* Room for many export-area paths; a longer record is not one of ours and is dropped. */
const qint64 keptAreasReadLimit = 65536;

QString
quoted (const QString &path)
{
  return "\"" + path + "\"";
}

/* Removes what sits at path unless it is a regular file (a pipe, a link, a device, an empty
 * folder); true when something was removed. */
bool
removeUnlessRegular (const QByteArray &path)
{
  struct stat status;
  if (lstat (path.constData (), &status) != 0 || S_ISREG (status.st_mode))
    return false;
  TRACE ("Replacing a non-regular file at " + quoted (QFile::decodeName (path)));
  return S_ISDIR (status.st_mode) ? rmdir (path.constData ()) == 0
                                  : unlink (path.constData ()) == 0;
}

/* Opens path as a regular file without blocking on a pipe and without following a link; what
 * else sits there is replaced once. -1 on failure. */
int
openRegular (const QString &path, int flags)
{
  QByteArray encoded = QFile::encodeName (path);
  for (int attempt = 0; attempt < 2; attempt++)
    {
      int descriptor
          = open (encoded.constData (), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
      struct stat status;
      if (descriptor >= 0 && fstat (descriptor, &status) == 0 && S_ISREG (status.st_mode))
        return descriptor;
      if (descriptor >= 0)
        close (descriptor);
      if ((flags & O_CREAT) == 0 || !removeUnlessRegular (encoded))
        return -1;
    }
  return -1;
}

/* Removes a file or a folder with everything below it; links are removed, never followed. */
void
removeTree (const QString &path)
{
  QFileInfo info (path);
  if (info.isDir () && !info.isSymLink ())
    QDir (path).removeRecursively ();
  else
    QFile::remove (path);
}

bool
writeAll (int descriptor, const QByteArray &content)
{
  qsizetype written = 0;
  while (written < content.size ())
    {
      ssize_t count = write (descriptor, content.constData () + written, content.size () - written);
      if (count < 0 && errno == EINTR)
        continue;
      if (count <= 0)
        return false;
      written += count;
    }
  return true;
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
BackupLastStateInfo::getKeptExportAreasFileName ()
{
  return QDir::homePath () + "/" + stateDir + "kept-export-areas";
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
BackupLastStateInfo::lockFile (const QString &path, const QByteArray &content)
{
  TRACE ("lockFile");
  createParentDir (path);
  int descriptor = openRegular (path, O_WRONLY | O_CREAT | O_TRUNC);
  if (descriptor < 0)
    return;
  TRACE ("Lock the file " + quoted (path));
  if (!writeAll (descriptor, content))
    TRACE ("Could not write " + quoted (path));
  close (descriptor);
}

void
BackupLastStateInfo::unlockFile (const QString &path)
{
  TRACE ("Unlocking file: " + quoted (path));
  QFile::remove (path);
}

void
BackupLastStateInfo::lockBackupInfo (QString name, QString backupsFolder)
{
  TRACE ("lockBackupInfo");
  /* The folder follows a NUL: a reader that knows only the name stops before it. */
  QByteArray content = name.toLatin1 ();
  if (!backupsFolder.isEmpty ())
    content += QByteArray (1, '\0') + QFile::encodeName (backupsFolder);
  lockFile (getBackupLockFileName (), content);
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
  lockFile (getRestoreLockFileName (), QByteArray (restoreMarkerText));
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
  struct stat status;
  bool result = lstat (QFile::encodeName (getRestoreLockFileName ()).constData (), &status) == 0;
  TRACE (QString ("result: ") + (result ? "true" : "false"));
  return result;
}

bool
BackupLastStateInfo::isBackupOpInterrupted (QString &name)
{
  QString backupsFolder;
  return isBackupOpInterrupted (name, backupsFolder);
}

bool
BackupLastStateInfo::isBackupOpInterrupted (QString &name, QString &backupsFolder)
{
  QString path = getBackupLockFileName ();
  struct stat status;
  bool result = lstat (QFile::encodeName (path).constData (), &status) == 0;
  TRACE (QString ("result: ") + (result ? "true" : "false"));
  int descriptor = result ? openRegular (path, O_RDONLY) : -1;
  if (descriptor < 0)
    return result;
  QByteArray text (markerReadLimit, '\0');
  ssize_t count = read (descriptor, text.data (), text.size ());
  close (descriptor);
  text.resize (qMax<ssize_t> (count, 0));
  text = text.trimmed ();
  qsizetype end = text.indexOf ('\0');
  name = QString::fromLatin1 (end < 0 ? text : text.left (end));
  if (end >= 0)
    {
      QByteArray folder = text.mid (end + 1);
      qsizetype folderEnd = folder.indexOf ('\0');
      backupsFolder = QFile::decodeName (folderEnd < 0 ? folder : folder.left (folderEnd));
    }
  return result;
}

void
BackupLastStateInfo::keepExportAreas (const QStringList &paths)
{
  if (paths.isEmpty ())
    return;
  QString path = getKeptExportAreasFileName ();
  createParentDir (path);
  int descriptor = openRegular (path, O_WRONLY | O_CREAT | O_APPEND);
  if (descriptor < 0)
    return;
  QByteArray content;
  for (const QString &area : paths)
    {
      TRACE ("Keeping the export area " + quoted (area) + " for its application");
      content += QFile::encodeName (area) + '\n';
    }
  if (!writeAll (descriptor, content))
    TRACE ("Could not record the kept export areas");
  close (descriptor);
}

void
BackupLastStateInfo::clearKeptExportAreas ()
{
  QString path = getKeptExportAreasFileName ();
  int descriptor = openRegular (path, O_RDONLY);
  if (descriptor < 0)
    {
      QFile::remove (path);
      return;
    }
  QByteArray text (keptAreasReadLimit + 1, '\0');
  ssize_t count = read (descriptor, text.data (), text.size ());
  close (descriptor);
  text.resize (count > 0 && count <= keptAreasReadLimit ? count : 0);

  /* Only what is an export area now is removed: the record may be older than the
   * configurations. */
  QSet<QByteArray> ordinary;
  GSList *uris = sf_backup_locations_get_uris (sf_backup_configurations_get_locations (),
                                               SF_CATEGORY_ALL, FALSE);
  for (GSList *item = uris; item != NULL; item = item->next)
    {
      g_autofree gchar *area = g_strcompress (static_cast<const gchar *> (item->data));
      ordinary.insert (QByteArray (area));
    }
  g_slist_free_full (uris, g_free);
  for (const QByteArray &area : text.split ('\n'))
    if (ordinary.contains (area))
      {
        TRACE ("Removing the kept export area " + quoted (QFile::decodeName (area)));
        removeTree (QFile::decodeName (area));
      }
  QFile::remove (path);
}

/* The description's time is read from the clock after the marker is written, so it is never
 * earlier in whole seconds. A file system with two-second steps (FAT) may keep the marker's time
 * rounded up to the next even second: the marker counts from two seconds before what it says. */
bool
BackupLastStateInfo::describedSinceMarker (qint64 descriptionTime, qint64 markerTime)
{
  const qint64 coarsestStep = 2;
  qint64 markerSeconds = markerTime >= 0 ? markerTime / 1000 : (markerTime - 999) / 1000;
  return descriptionTime >= markerSeconds - coarsestStep;
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
  /* The mass-storage folder is written by whoever mounts it over USB: never follow a link there,
   * never wait on a pipe. */
  int descriptor = openRegular (path, O_WRONLY | O_CREAT | O_TRUNC);
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
