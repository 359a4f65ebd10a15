#include "BackupService.h"

/* Found through the include path, not beside this file, so the service tests can put a
 * recording main view in its place. */
#include <BackupMainView.h>
#include "LumoSuitePage.h"
#include "LumoSuiteTransfer.h"
#include "Tracing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

namespace
{
const char *const suiteBackupName = "LUMO Suite Backup";
const int rebootDelayMs = 4000;

const int backupStart = 100;
const int backupStop = 101;
const int restoreStart = 200;
const int restoreStop = 201;

struct ContentCommand
{
  const char *traceName;
  const char *directory;
  int categories;
};

/* Commands 1 to 6: the suite's content types. */
const ContentCommand contentCommands[] = {
  { "LUMO_BACKUP_CONTENT_CONTACTS", "/contacts", 1 },
  { "LUMO_BACKUP_CONTENT_CALENDAR", "/calendar", 8 },
  { "LUMO_BACKUP_CONTENT_MESSAGES", "/messages", 6 },
  { "LUMO_BACKUP_CONTENT_BOOKMARKS", "/bookmarks", 16 },
  { "LUMO_BACKUP_CONTENT_SETTINGS", "/settings", 32 },
  { "LUMO_BACKUP_CONTENT_APPLICATIONS", "/applications", 64 },
};

qint64
getBackupFileSize (const QString &path)
{
  QFileInfo info (path);
  return info.isFile () && !info.isSymLink () ? info.size () : -1;
}
} // namespace

BackupService::BackupService (BackupMainView *mainView) : QObject (nullptr), mainView_ (mainView)
{
  mainView_->setBackupService (this);
  if (!QFileInfo::exists (workingDirectory ()))
    {
      TRACE ("creating directory " + workingDirectory ());
      QDir ().mkpath (workingDirectory ());
    }
}

bool
BackupService::isServingRequests () const
{
  return exchangeOpen_ || restoring_ || !requestQueue_.isEmpty () || stopReply_.has_value ();
}

QString
BackupService::workingDirectory ()
{
  return QDir::homePath () + "/MyDocs/.tmp";
}

int
BackupService::request (const QString &operation, const QString &command, int fileSize,
                        QString &filePath)
{
  result_ = 0;
  TRACE ("Operation: " + operation + ", Command: " + command
         + ", Size: " + QString::number (fileSize));
  bool isNumber = false;
  int cmd = command.toInt (&isNumber, 10);
  if (!isNumber)
    cmd = 0;

  if (cmd <= 99 && !requestsAccepted_)
    {
      filePath.clear ();
      return 2;
    }
  if (fileSize != 0)
    expectedSize_ = fileSize;

  QString directory;
  int categories = 0;
  if (cmd >= 1 && cmd <= 6)
    {
      const ContentCommand &content = contentCommands[cmd - 1];
      directory = content.directory;
      categories = content.categories;
      TRACE (QString ("Category: ") + content.traceName + ", Path: " + directory);
    }
  else if (cmd == backupStart || cmd == restoreStart)
    {
      TRACE ("LUMO_BACKUP_OPERATION_START or LUMO_RESTORE_OPERATION_START");
      exchangeMode_ = cmd;
      if (mainView_->isBusy ())
        requestsAccepted_ = false;
      else
        {
          exchangeOpen_ = true;
          requestsAccepted_ = true;
          if (!mainView_->isServiceMode ())
            mainView_->setServiceMode (true);
          showLumoOperationUI ();
        }
    }
  else if (cmd == backupStop)
    {
      TRACE ("LUMO_BACKUP_OPERATION_STOP");
      exchangeOpen_ = false;
      if (operation == "close")
        {
          TRACE ("Closing application...");
          exitApp ();
        }
    }
  else if (cmd == restoreStop)
    {
      TRACE ("LUMO_RESTORE_OPERATION_STOP");
      exchangeMode_ = restoreStop;
      if (operation == "open")
        queueRestoreStop ();
    }
  else
    TRACE ("unknown command!!!");

  workingPath_ = workingDirectory () + directory;

  if (exchangeMode_ == backupStart && cmd <= 99)
    handleBackupContent (operation, categories);
  if (exchangeMode_ == restoreStart)
    handleRestoreContent (operation, cmd, categories);

  filePath = workingPath_;
  return result_ != 0 ? 2 : 0;
}

void
BackupService::handleBackupContent (const QString &operation, int categories)
{
  if (operation == "open" && categories != 0)
    {
      if (!requestQueue_.isEmpty ())
        {
          qCritical ("Attempt to start more then one backup request");
          return;
        }
      TRACE ("Start delayed backup operation");
      setDelayedReply (true);
      requestQueue_.append ({ connection (), message (), workingPath_, categories, true, false });
      startBackupOperation ();
    }
  else if (operation == "close")
    {
      TRACE ("Delete last backup file");
      if (QFileInfo (workingPath_).isFile () && !QFile::remove (workingPath_))
        qWarning ("Could not delete backup file: %s", qUtf8Printable (workingPath_));
      workingPath_.clear ();
    }
}

void
BackupService::handleRestoreContent (const QString &operation, int command, int categories)
{
  if (operation == "open" && command == restoreStart)
    {
      requestQueue_.clear ();
      restoreFailed_ = false;
    }
  else if (operation == "open" && categories != 0)
    {
      bool wasEmpty = requestQueue_.isEmpty ();
      RequestItem item{ connection (), message (), workingPath_, categories, !wasEmpty, false };
      if (wasEmpty)
        TRACE ("start restore process now");
      else
        {
          TRACE ("restore process is going: delay the current reply");
          setDelayedReply (true);
        }
      requestQueue_.append (item);
    }
  else if (operation == "close" && categories != 0)
    receiveRestoreFile ();
}

/* The file of a restore item has been written by the suite. Its restore may start only now,
 * and only when the file has the size the suite announced: an earlier start would split a file
 * that is not there yet. */
void
BackupService::receiveRestoreFile ()
{
  qint64 size = getBackupFileSize (workingPath_);
  TRACE ("Received file name = " + workingPath_);
  TRACE ("size of the received file = " + QString::number (size));
  if (size != expectedSize_)
    {
      qWarning ("File sizes don't match!");
      qWarning ("Expected file size = %d", expectedSize_);
      return;
    }
  for (RequestItem &item : requestQueue_)
    if (!item.received && item.path == workingPath_)
      {
        item.received = true;
        break;
      }
  TRACE ("Start delayed restore operation");
  workingPath_.clear ();
  if (!restoring_)
    QMetaObject::invokeMethod (this, &BackupService::checkAndStartRestore, Qt::QueuedConnection);
}

void
BackupService::queueRestoreStop ()
{
  TRACE ("LUMO_RESTORE_OPERATION_STOP request received");
  TRACE ("Start delayed operation reply");
  stopRequested_ = true;
  setDelayedReply (true);
  stopReply_ = RequestItem{ connection (), message (), workingDirectory (), 0, true, false };
  if (!restoring_)
    QMetaObject::invokeMethod (this, &BackupService::checkAndStartRestore, Qt::QueuedConnection);
}

int
BackupService::mapBackupResult (int status)
{
  return status == 100 ? 0 : status;
}

int
BackupService::mapRestoreResult (int status)
{
  if (status == 200 || status == 203 || status == 204)
    return 0;
  TRACE ("BackupService::mapRestoreResult, Unknown result: " + QString::number (status));
  return 2;
}

void
BackupService::startBackupOperation ()
{
  result_ = mapBackupResult (100);
  currentItemPath_ = requestQueue_.first ().path;
  connect (mainView_, &BackupMainView::signalLumoSuiteOperationFinished, this,
           &BackupService::lumoBackupFinished);
  mainView_->startLumoSuiteBackup ((SfCategory)requestQueue_.first ().categories);
}

void
BackupService::lumoBackupFinished (int status)
{
  disconnect (mainView_, &BackupMainView::signalLumoSuiteOperationFinished, this,
              &BackupService::lumoBackupFinished);
  result_ = mapBackupResult (status) != 0 ? 2 : 0;
  if (result_ == 0)
    {
      QString error;
      TRACE ("Preparing a merged file " + currentItemPath_ + " for sending to lumo suite");
      if (!LumoSuiteTransfer::merge (mainView_->getLumoSuiteFileList (), currentItemPath_, &error))
        {
          qWarning ("BackupService::startBackupOperation, Data packing not successful: %s",
                    qUtf8Printable (error));
          result_ = 2;
        }
      else
        TRACE ("File merging success");
    }
  if (!mainView_->removeLumoSuiteBackup ())
    qWarning ("BackupService::startBackupOperation, Removing backup not successful");
  if (requestQueue_.isEmpty ())
    return;
  RequestItem item = requestQueue_.takeFirst ();
  TRACE ("Sending delayed reply");
  sendReply (item, result_, currentItemPath_);
}

void
BackupService::checkAndStartRestore ()
{
  if (restoring_)
    {
      TRACE ("Restore is ongoing, need to wait");
      return;
    }
  if (stopRequested_)
    dropUnreceivedItems ();
  if (!requestQueue_.isEmpty () && requestQueue_.first ().received)
    {
      TRACE ("Starting the restore");
      startRestore (requestQueue_.first ());
    }
  else if (requestQueue_.isEmpty () && stopRequested_)
    {
      TRACE ("********All items in restore queue is finished***************");
      TRACE ("No more item to process");
      if (stopReply_)
        sendReply (*stopReply_, restoreFailed_ ? 2 : 0, stopReply_->path);
      stopReply_.reset ();
      exitApp ();
    }
  else
    TRACE ("More items has to be received, need to wait");
}

/* After the stop, the suite sends no more files: an item whose file never arrived complete is
 * not restored, and the suite learns it from the stop's answer. */
void
BackupService::dropUnreceivedItems ()
{
  for (qsizetype index = requestQueue_.size () - 1; index >= 0; index--)
    if (!requestQueue_.at (index).received)
      {
        TRACE ("Transfer file never received: " + requestQueue_.at (index).path);
        RequestItem item = requestQueue_.takeAt (index);
        if (item.delayed)
          sendReply (item, 2, item.path);
        restoreFailed_ = true;
      }
}

void
BackupService::startRestore (const RequestItem &item)
{
  TRACE ("Inside BackupService::startRestore");
  TRACE ("Restoring from file " + item.path + ", Category = " + QString::number (item.categories));
  restoring_ = true;
  QString directory = QFileInfo (mainView_->getLumoSuiteFilePath (0)).path ();
  QString error;
  if (!LumoSuiteTransfer::split (item.path, directory, item.categories, &error))
    {
      qWarning ("BackupService::splitLumoSuiteData: %s", qUtf8Printable (error));
      TRACE ("Not able to split the lumosuite data, restore failed, returning");
      finishRestoreItem (false);
      return;
    }
  connect (mainView_, &BackupMainView::signalLumoSuiteOperationFinished, this,
           &BackupService::lumoRestoreFinished);
  mainView_->startLumoSuiteRestore ((SfCategory)item.categories);
}

void
BackupService::lumoRestoreFinished (int status)
{
  TRACE ("******* BackupService::slotRestoreFinished: Result = " + QString::number (status));
  disconnect (mainView_, &BackupMainView::signalLumoSuiteOperationFinished, this,
              &BackupService::lumoRestoreFinished);
  finishRestoreItem (mapRestoreResult (status) == 0);
}

/* Ends the restore of the queue's first item, lets the suite send the next file, and looks for
 * the next restore to start once this call has returned. */
void
BackupService::finishRestoreItem (bool restored)
{
  if (!restored)
    restoreFailed_ = true;
  if (!mainView_->removeLumoSuiteBackup ())
    qWarning ("Not able to remove lumo backup files");
  if (!requestQueue_.isEmpty ())
    {
      RequestItem finished = requestQueue_.takeFirst ();
      QFile::remove (finished.path);
    }
  if (!requestQueue_.isEmpty () && requestQueue_.first ().delayed)
    {
      TRACE ("Sending delayed reply");
      requestQueue_.first ().delayed = false;
      sendReply (requestQueue_.first (), 0, requestQueue_.first ().path);
    }
  restoring_ = false;
  QMetaObject::invokeMethod (this, &BackupService::checkAndStartRestore, Qt::QueuedConnection);
}

void
BackupService::sendReply (const RequestItem &item, int result, const QString &path)
{
  item.connection.send (item.message.createReply ({ result, path }));
}

void
BackupService::cancel ()
{
  TRACE ("BackupService::cancel...");
  bool cancelable = false;
  mainView_->cancelLumoSuiteOperation (cancelable);
  if (operationPage_)
    operationPage_->setCancelling ();
  exitApp ();
}

void
BackupService::exitApp ()
{
  QMetaObject::invokeMethod (this, &BackupService::slotExitApp, Qt::QueuedConnection);
}

void
BackupService::slotExitApp ()
{
  TRACE ("Exiting from application, cmdId = " + QString::number (exchangeMode_));
  if (exchangeMode_ == restoreStop)
    {
      /* The main window is hidden during an exchange: the operation page carries the note. */
      showLumoOperationUI ();
      operationPage_->setText (mainView_->getCachedTranslation ("qtn_back_settingsreboot"));
      QTimer::singleShot (rebootDelayMs, this, &BackupService::doRestoreCompleteReboot);
      return;
    }
  closeLumoOperationUI ();
  mainView_->closeApplication ();
}

void
BackupService::doRestoreCompleteReboot ()
{
  closeLumoOperationUI ();
  mainView_->rebootAfterRestore ();
}

void
BackupService::showLumoOperationUI ()
{
  if (!operationPage_)
    operationPage_ = new LumoSuitePage (
        qtTrId (exchangeMode_ == restoreStart ? "qtn_back_restoring" : "qtn_back_creatingbackup"));
  operationPage_->showFullScreen ();
}

void
BackupService::closeLumoOperationUI ()
{
  if (operationPage_)
    operationPage_->deleteLater ();
}
