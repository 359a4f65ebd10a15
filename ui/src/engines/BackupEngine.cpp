#include "sf-backup-configurations.h"
#include "sf-backup-info.h"
#include "sf-error.h"
#include "sf-permanent-file-list.h"
#include "sf-utils.h"

#include "BackupEngine.h"

#include "EngineOwner.h"
#include "Tracing.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <sys/statvfs.h>

namespace
{
const int finishDelay = 5000;
const int backupFinishedTimeout = 3000;
const int cancelledTimeout = 500;
const qint64 spaceMargin = 65536;

/* The include paths of the categories in a location table, unescaped and sorted. */
QStringList
includePaths (SfBackupLocations *locations, int categories)
{
  QStringList paths;
  GSList *uris = sf_backup_locations_get_uris (locations, categories, FALSE);
  for (GSList *item = uris; item != NULL; item = item->next)
    {
      g_autofree gchar *path = g_strcompress (static_cast<const gchar *> (item->data));
      paths << QString::fromUtf8 (path);
    }
  g_slist_free_full (uris, g_free);
  return paths;
}
} // namespace

BackupEngine::BackupEngine (SfBackend *backend, SfTarget *target, int categories, QObject *owner,
                            QVariantMap parameters)
    : QObject (owner), backend (backend), target (target), categories (categories),
      parameters (parameters), owner (owner), startTime (QDateTime::currentSecsSinceEpoch ())
{
  g_object_ref (target);
  finishTimer.setSingleShot (true);
  finishTimer.setInterval (finishDelay);
  connect (&permanentCaller, &DBusMethodCaller::finished, this,
           &BackupEngine::slotPermanentCallsFinished);
  connect (&temporaryCaller, &DBusMethodCaller::finished, this,
           &BackupEngine::slotTemporaryCallsFinished);
  connect (owner, SIGNAL (signalEngineEmittedBackupChanged ()), this,
           SLOT (slotOnBackupsChangedSignalReceived ()));
  connect (&finishTimer, &QTimer::timeout, this, &BackupEngine::slotEmitBackupFinishedSignal,
           Qt::QueuedConnection);
}

BackupEngine::~BackupEngine ()
{
  freeUserFiles ();
  g_clear_error (&error);
  g_object_unref (target);
}

QString
BackupEngine::backupName () const
{
  return parameters.value ("name").toString ();
}

void
BackupEngine::freeUserFiles ()
{
  g_clear_pointer (&userFiles, sf_user_files_free);
}

QString
BackupEngine::backupsFolder () const
{
  return QUrl::fromEncoded (sf_target_get_backups_uri (target)).toLocalFile ();
}

bool
BackupEngine::isCancellable () const
{
  return !completing;
}

int
BackupEngine::failureCode () const
{
  return error != nullptr && error->domain == SF_ERROR ? error->code : -1;
}

/* Asked of the memory itself each time: a card can be remounted read-only after it was found. */
bool
BackupEngine::memoryIsReadOnly () const
{
  QString root = QUrl::fromEncoded (sf_target_get_uri (target)).toLocalFile ();
  struct statvfs status;
  return statvfs (QFile::encodeName (root).constData (), &status) == 0
         && (status.f_flag & ST_RDONLY) != 0;
}

void
BackupEngine::stopCancelling ()
{
  if (completing)
    return;
  completing = true;
  Q_EMIT cancelNoLongerPossible ();
}

void
BackupEngine::startBackup ()
{
  TRACE ("********* starting backup **********");
  startTime = QDateTime::currentSecsSinceEpoch ();
  /* Refused before any application is told to write its data out for it. */
  if (memoryIsReadOnly ())
    {
      TRACE ("The memory is read-only, no backup");
      Q_EMIT backupEngineStarted ();
      error = g_error_new_literal (SF_ERROR, SF_ERROR_BACKUP_READ_ONLY, "Memory card read-only");
      backupDone (103);
      return;
    }
  lastStateInfo.lockBackupInfo (backupName (), backupsFolder ());
  lastStateInfo.lockMSM ();
  lastStateInfo.clearKeptExportAreas ();
  Q_EMIT backupEngineStarted ();
  connect (owner, SIGNAL (signalBackendError (SfBackend *, GError *)), this,
           SLOT (slotBackendError (SfBackend *, GError *)));
  connect (owner, SIGNAL (signalBackendFinished (SfBackend *)), this,
           SLOT (slotBackendFinished (SfBackend *)));
  connect (owner, SIGNAL (signalBackendCancelled (SfBackend *)), this,
           SLOT (slotBackendCancelled (SfBackend *)));
  collectBackupData ();
}

void
BackupEngine::collectBackupData ()
{
  cancelRequested = false;
  inProgress = true;
  notifyDBusApps (BackupMethodPermanentFiles, "backupStarts", 0);
  notifyDBusApps (BackupMethodDBus, "backup", 0);
  if (permanentDone && temporaryDone)
    {
      TRACE ("No dbus apps, can start backup");
      checkAndStartBackup ();
    }
  else
    TRACE ("waiting for dbus methods to return for starting backup");
}

bool
BackupEngine::notifyDBusApps (int type, const QString &methodName, int timeout)
{
  bool permanent = type == BackupMethodPermanentFiles;
  DBusMethodCaller &caller = permanent ? permanentCaller : temporaryCaller;
  bool &done = permanent ? permanentDone : temporaryDone;
  QList<QVariant> arguments;
  if (!permanent && methodName == "backup")
    arguments << backupNameList;
  done = false;
  QList<DBusServiceInfo> services = caller.getDBusServiceInfos (type, categories);
  bool called = caller.callDBusMethod (methodName, services, arguments, timeout);
  if (!called)
    {
      done = true;
      TRACE ("The application of type " + QString::number (type) + " has NO dbus apps to notify");
    }
  else
    TRACE ("The application of type " + QString::number (type) + " has some dbus apps to notify");
  return called;
}

void
BackupEngine::slotTemporaryCallsFinished (DBusCallStatus status, QString)
{
  temporaryDone = true;
  if (status == DBusCallCancelled)
    return;
  TRACE ("temporary app dbus calls finished");
  checkAndStartBackup ();
}

void
BackupEngine::slotPermanentCallsFinished (DBusCallStatus status, QString methodName)
{
  permanentDone = true;
  if (status == DBusCallCancelled)
    return;
  if (methodName == "backupFinished")
    {
      if (completing)
        setFinalizing ();
      else
        finishFromBackend (backend);
    }
  else if (methodName == "backupStarts")
    {
      TRACE ("permanent app dbus calls finished");
      permanentCaller.writeFailedAppNamesToErrorLog ();
      checkAndStartBackup ();
    }
}

void
BackupEngine::checkAndStartBackup ()
{
  TRACE ("****************** checkAndStartBackup() ****************");
  if (finished)
    return;
  if (cancelRequested)
    {
      TRACE ("Not starting backup, instead cancelling");
      slotBackendCancelled (nullptr);
    }
  else if (!temporaryDone)
    TRACE ("Temporary apps has not finished, need to wait");
  else if (!permanentDone)
    TRACE ("Permanent apps has not finished, need to wait");
  else
    {
      TRACE ("Both temperory and permanent apps finished replying dbus, starting backup");
      int status = createBackup ();
      if (status != 100)
        {
          inProgress = false;
          backupDone (cancelRequested ? 101 : status);
        }
    }
}

int
BackupEngine::createBackup ()
{
  QByteArray name = backupName ().toUtf8 ();
  qint64 reusableSize = 0;
  SfBackupInfo *existing = sf_target_get_backup_by_name (target, name.constData ());
  if (existing != NULL)
    {
      reusableSize = sf_backup_info_get_size_for_categories (existing, SF_CATEGORY_ALL);
      sf_backup_info_unref (existing);
    }

  guint32 files = 0;
  guint64 size = 0;
  sf_backend_count_data (backend, (SfCategory)categories, &files, &size);
  freeUserFiles ();
  userFiles = sf_user_files_new (categories);
  size += sf_user_files_get_size (userFiles, categories);
  files += sf_user_files_get_num_files (userFiles, categories);

  g_autoptr (GError) prepareError = NULL;
  if (!sf_target_prepare_for_backup (target, &prepareError))
    {
      TRACE ("Backup prepare failed, cleaning....");
      freeUserFiles ();
      return g_error_matches (prepareError, SF_ERROR, SF_ERROR_BACKUP_NO_SPACE) ? 102 : 103;
    }
  TRACE ("Backup preparation complete");
  gint32 timestamp = (gint32)QDateTime::currentSecsSinceEpoch ();

  qint64 needed = qMax<qint64> ((qint64)size - reusableSize, 0) + spaceMargin;
  qint64 freeSpace = (qint64)sf_target_calculate_free_space (target);
  sf_utils_suggest_gconf_sync ();
  if (needed >= freeSpace)
    {
      g_clear_error (&error);
      error = g_error_new_literal (SF_ERROR, SF_ERROR_BACKUP_NO_SPACE, "No space");
      freeUserFiles ();
      return 102;
    }
  TRACE ("BackupEngine::createBackup ready to start backup procedure...");

  /* Only a folder this backup creates may be removed when it fails: one of that name found here
   * before is another backup's. */
  folderExistedBefore = QFileInfo::exists (backupsFolder () + "/" + backupName ())
                        || QFileInfo (backupsFolder () + "/" + backupName ()).isSymLink ();
  g_autofree gchar *notes
      = sf_backup_info_escape_text (parameters.value ("notes").toString ().toUtf8 ().constData ());
  QByteArray password = parameters.value ("password").toString ().toUtf8 ();
  g_clear_error (&error);
  gboolean started
      = sf_backend_start_backup (backend, target, userFiles, name.constData (),
                                 password.isEmpty () ? NULL : password.constData (), notes,
                                 timestamp, (SfCategory)categories, files, size, &error);
  TRACE ("sf_backend_start_backup() finished");
  backendStarted = started;
  if (!started)
    {
      freeUserFiles ();
      return 103;
    }
  TRACE ("Backup process initiation success");
  return 100;
}

void
BackupEngine::savePermanentFileList ()
{
  GSList *entries = sf_backup_locations_get_uri_infos (
      sf_backup_configurations_get_permanent_locations (), categories, FALSE);
  if (entries == NULL)
    return;
  TRACE ("going to save permanent file lists");
  for (GSList *item = entries; item != NULL; item = item->next)
    {
      auto *info = static_cast<SfBackupUriInfo *> (item->data);
      gchar *path = g_strcompress (info->uri);
      g_free (info->uri);
      info->uri = path;
    }
  g_autofree gchar *backupsUri = sf_target_dup_backups_uri (target);
  g_autoptr (GError) listError = NULL;
  /* The permanent files are in the archives as well, and the sources are gone by now: the
   * backup is whole and stays; only the list beside it is missing. */
  if (sf_backend_save_permanent_file_list (entries, backupsUri,
                                           backupName ().toUtf8 ().constData (), &listError))
    TRACE ("Finished saving permanent file lists");
  else
    TRACE ("The backup is kept without its permanent file list: "
           + QString::fromUtf8 (listError->message));
  g_slist_free_full (entries, (GDestroyNotify)sf_backup_uri_info_free);
}

void
BackupEngine::slotBackendFinished (SfBackend *)
{
  /* The backup is whole on the memory: a cancel that came too late changes nothing. */
  if (finished)
    return;
  stopCancelling ();
  /* The worker creates the backup's folder: only now is it sure to be there for the list. */
  savePermanentFileList ();
  QList<DBusServiceInfo> services
      = permanentCaller.getDBusServiceInfos (BackupMethodPermanentFiles, categories);
  if (services.isEmpty ()
      || !permanentCaller.callDBusMethod ("backupFinished", services, {}, backupFinishedTimeout))
    {
      setFinalizing ();
      return;
    }
  TRACE ("called method 'backupFinished', waiting for reply ...");
}

void
BackupEngine::setFinalizing ()
{
  TRACE ("setFinalizing");
  freeUserFiles ();
  inProgress = false;
  backupDone (100);
}

void
BackupEngine::slotBackendCancelled (SfBackend *backend)
{
  TRACE ("******backend cancelled the backup****");
  if (finished || completing)
    return;
  if (!notifyDBusApps (BackupMethodPermanentFiles, "backupFinished", cancelledTimeout))
    {
      TRACE ("No applications to notify that backup finished");
      finishFromBackend (backend);
    }
  else
    TRACE ("***** cancelling, waiting for all application to get notified");
}

void
BackupEngine::finishFromBackend (SfBackend *backend)
{
  /* No backend when the cancel came before the backup started: nothing of it to keep. */
  GError *backendError = backend != nullptr ? sf_backend_get_error (backend) : NULL;
  if (backendError != NULL)
    {
      g_clear_error (&error);
      error = g_error_copy (backendError);
    }
  int status = backendError != NULL && !cancelRequested ? 103 : 101;
  processedFiles = backend != nullptr ? qMax (sf_backend_get_processed_files (backend), 0) : 0;
  inProgress = false;
  backupDone (status);
}

void
BackupEngine::slotBackendError (SfBackend *, GError *error)
{
  TRACE ("********* Inside slotBackendError()");
  if (finished)
    return;
  /* The backend frees its error right after this signal. */
  g_clear_error (&this->error);
  this->error = g_error_copy (error);
  /* Only the code tells a full memory: the engine knows it from the failed write itself, and an
   * archive that could not be closed may as well be on a card that was pulled out. */
  int status = 103;
  if (cancelRequested)
    status = 101;
  else if (g_error_matches (error, SF_ERROR, SF_ERROR_BACKUP_NO_SPACE))
    {
      TRACE ("***** No space error during backup");
      status = 102;
    }
  inProgress = false;
  backupDone (status);
}

void
BackupEngine::removeEmptyDirs (const QString &path)
{
  QFileInfo info (path);
  if (!info.isDir () || info.isSymLink ())
    return;
  const QStringList children
      = QDir (path).entryList (QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks);
  for (const QString &child : children)
    removeEmptyDirs (path + "/" + child);
  TRACE ("********* Removing directory \"" + path + "\"");
  QDir ().rmdir (path);
}

bool
BackupEngine::removeInterruptedBackupFile ()
{
  if (!backendStarted || folderExistedBefore)
    {
      TRACE ("No folder of this backup to remove");
      return true;
    }
  TRACE ("Removing the uncompleted backup \"" + backupName () + "\"");
  return qobject_cast<EngineOwner *> (owner)->removeBackupFolder (target, backupName ());
}

void
BackupEngine::backupDone (int status)
{
  /* Every backup ends once, whatever else the backend or the applications say afterwards. */
  if (finished)
    return;
  finished = true;
  stopCancelling ();
  for (const QString &path : includePaths (sf_backup_configurations_get_locations (), categories))
    removeEmptyDirs (path);
  TRACE ("******************Backup DONE, status code = " + QString::number (status)
         + "****************");
  bool folderLeft = false;
  if (status != 100)
    {
      TRACE ("Backup was not success, removing the unfinished file");
      folderLeft = !removeInterruptedBackupFile ();
    }
  /* An unfinished folder that could not go (its memory was pulled out) is left to the next
   * start, which the marker tells to report the interruption and remove it. */
  if (folderLeft)
    TRACE ("The unfinished backup stays on its memory, its marker is kept");
  else
    lastStateInfo.unlockBackupInfo ();
  statusCode = status;
  finishTimer.start ();
}

void
BackupEngine::slotOnBackupsChangedSignalReceived ()
{
  if (!finishTimer.isActive ())
    return;
  TRACE ("Timer Resetted");
  finishTimer.stop ();
  finishTimer.start ();
}

void
BackupEngine::slotEmitBackupFinishedSignal ()
{
  lastStateInfo.unlockMSM ();
  TRACE ("Backup finished in " + QString::number (QDateTime::currentSecsSinceEpoch () - startTime)
         + "seconds" + "(perf_check)");
  Q_EMIT backupEngineFinished (statusCode);
}

void
BackupEngine::cancelBackup ()
{
  TRACE ("Inside cancelBackup()");
  if (completing && !cancelRequested)
    {
      TRACE ("The backup has finished, the cancel changes nothing");
      return;
    }
  Q_EMIT cancellingIsInitiated ();
  if (cancelRequested)
    {
      TRACE ("************* cancelling already initiated, not taking this request");
      return;
    }
  requestCancel ();
}

void
BackupEngine::slotCancelLumoSuiteBackup (bool &cancelable)
{
  TRACE ("slotCancelLumoSuiteBackup");
  cancelable = false;
  if (completing || cancelRequested)
    return;
  cancelable = requestCancel ();
}

bool
BackupEngine::requestCancel ()
{
  cancelRequested = true;
  permanentCaller.cancelRequests ();
  temporaryCaller.cancelRequests ();
  TRACE ("Checking if we can cancel this backup");
  /* The backend runs its own loop meanwhile: its finished, error or cancelled may arrive and
   * settle the backup before this returns. */
  backendCancelResult = sf_backend_cancel (backend);
  if (backendCancelResult)
    TRACE ("Backup can not be cancelled now, need to wait");
  else if (!finished && !completing)
    {
      inProgress = false;
      backupDone (101);
      TRACE ("Backup cancelled");
    }
  return backendCancelResult;
}
