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
/* An exchange whose suite has said nothing for this long, while the phone had nothing of it to
 * do, is abandoned. Between two calls a suite only writes or reads one transfer file over USB,
 * which takes minutes for the largest (a few GB at USB 2 speed). */
const int defaultIdleTimeoutMs = 15 * 60 * 1000;

const int backupStart = 100;
const int backupStop = 101;
const int restoreStart = 200;
const int restoreStop = 201;
const int restoreSettingsWritten = 204;

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

int
idleTimeoutMs ()
{
  bool valid = false;
  int timeout = qEnvironmentVariableIntValue ("SF_SUITE_IDLE_TIMEOUT_MS", &valid);
  return valid && timeout > 0 ? timeout : defaultIdleTimeoutMs;
}

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
  if (!QFileInfo (workingDirectory ()).isDir () || QFileInfo (workingDirectory ()).isSymLink ())
    {
      TRACE ("creating directory " + workingDirectory ());
      QString error;
      if (!LumoSuiteTransfer::makeFolder (workingDirectory (), &error))
        qWarning ("%s", qUtf8Printable (error));
    }
  /* A split cut short by a kill leaves its hidden folder; no exchange runs yet. */
  QFileInfo suiteBackup (mainView_->getLumoSuiteFilePath (0));
  if (!suiteBackup.filePath ().isEmpty ())
    LumoSuiteTransfer::clearPath (
        QFileInfo (suiteBackup.path ()).path () + "/"
        + LumoSuiteTransfer::partialName (QFileInfo (suiteBackup.path ()).fileName ()));
  idleTimer_.setSingleShot (true);
  connect (&idleTimer_, &QTimer::timeout, this, &BackupService::exchangeIdle);
}

bool
BackupService::isServingRequests () const
{
  return exchange_ != Exchange::None || restoring_ || backupItem_.has_value ()
         || !requestQueue_.isEmpty () || stopReply_.has_value () || exitWhenIdle_;
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

  workingPath_ = workingDirectory ();
  if (cmd <= 99)
    {
      /* Content commands belong to an exchange this service accepted and has not stopped. */
      if (exchange_ == Exchange::None || stopReply_)
        {
          filePath.clear ();
          return 2;
        }
      touchExchange ();
      if (fileSize != 0)
        expectedSize_ = fileSize;
      int categories = 0;
      if (cmd >= 1 && cmd <= 6)
        {
          const ContentCommand &content = contentCommands[cmd - 1];
          workingPath_ += content.directory;
          categories = content.categories;
          TRACE (QString ("Category: ") + content.traceName + ", Path: " + content.directory);
        }
      if (exchange_ == Exchange::Backup)
        handleBackupContent (operation, categories);
      else
        handleRestoreContent (operation, categories);
    }
  else if (cmd == backupStart || cmd == restoreStart)
    {
      TRACE ("LUMO_BACKUP_OPERATION_START or LUMO_RESTORE_OPERATION_START");
      if (operation == "open")
        startExchange (cmd);
    }
  else if (cmd == backupStop)
    {
      TRACE ("LUMO_BACKUP_OPERATION_STOP");
      stopBackupExchange (operation);
    }
  else if (cmd == restoreStop)
    {
      TRACE ("LUMO_RESTORE_OPERATION_STOP");
      stopRestoreExchange (operation);
    }
  else
    TRACE ("unknown command!!!");

  filePath = workingPath_;
  return result_ != 0 ? 2 : 0;
}

/* A refusal carries no path: there is nothing for the suite to read or write. */
void
BackupService::refuse ()
{
  result_ = 2;
  workingPath_.clear ();
}

/* A start while anything of another exchange or of the user is under way is refused and
 * changes nothing of it. */
void
BackupService::startExchange (int command)
{
  if (isServingRequests () || mainView_->isBusy ())
    {
      TRACE ("An operation is running, the exchange is refused");
      refuse ();
      return;
    }
  exchangeMode_ = command;
  exchange_ = command == backupStart ? Exchange::Backup : Exchange::Restore;
  requestQueue_.clear ();
  restoreFailed_ = false;
  rebootNeeded_ = false;
  expectedSize_ = 0;
  QString error;
  if (!LumoSuiteTransfer::makeFolder (workingDirectory (), &error))
    qWarning ("%s", qUtf8Printable (error));
  if (!mainView_->isServiceMode ())
    mainView_->setServiceMode (true);
  showLumoOperationUI ();
  touchExchange ();
}

void
BackupService::stopBackupExchange (const QString &operation)
{
  if (exchange_ != Exchange::Backup)
    {
      refuse ();
      return;
    }
  /* Files the suite did not close stay where it can still fetch them. */
  endExchange (false);
  if (operation == "close")
    {
      TRACE ("Closing application...");
      quitWhenIdle ();
    }
  else
    closeLumoOperationUI ();
}

void
BackupService::stopRestoreExchange (const QString &operation)
{
  if (exchange_ != Exchange::Restore || stopReply_)
    {
      TRACE ("No restore exchange to stop");
      refuse ();
      return;
    }
  if (operation != "open")
    return;
  TRACE ("LUMO_RESTORE_OPERATION_STOP request received");
  TRACE ("Start delayed operation reply");
  exchangeMode_ = restoreStop;
  idleTimer_.stop ();
  stopReply_ = delayCall (workingDirectory (), 0);
  if (!restoring_)
    QMetaObject::invokeMethod (this, &BackupService::checkAndStartRestore, Qt::QueuedConnection);
}

BackupService::RequestItem
BackupService::delayCall (const QString &path, int categories)
{
  setDelayedReply (true);
  return RequestItem{ connection (), message (), path, categories, true, false };
}

/* Whatever stands at a working path is removed before a transfer file is written there: the
 * memory is writable from the PC, and a folder or a link there must neither stop the file nor
 * redirect it. */
bool
BackupService::prepareWorkingPath (const QString &path)
{
  if (LumoSuiteTransfer::clearPath (path))
    return true;
  qWarning ("Could not clear the working path %s", qUtf8Printable (path));
  return false;
}

void
BackupService::handleBackupContent (const QString &operation, int categories)
{
  if (operation == "open")
    {
      if (backupItem_ || categories == 0)
        {
          qCritical ("Attempt to start more then one backup request");
          refuse ();
          return;
        }
      TRACE ("Start delayed backup operation");
      backupItem_ = delayCall (workingPath_, categories);
      startBackupOperation ();
    }
  else if (operation == "close")
    {
      TRACE ("Delete last backup file");
      if (backupItem_ && backupItem_->path == workingPath_)
        refuse ();
      else if (!LumoSuiteTransfer::clearPath (workingPath_))
        qWarning ("Could not delete backup file: %s", qUtf8Printable (workingPath_));
      workingPath_.clear ();
    }
}

void
BackupService::handleRestoreContent (const QString &operation, int categories)
{
  if (categories == 0)
    return;
  if (operation == "open")
    openRestoreItem (categories);
  else if (operation == "close")
    receiveRestoreFile ();
}

/* An item's "open" waits only while an earlier item is being restored; a file that arrived
 * and waits for its restore is never written over. */
void
BackupService::openRestoreItem (int categories)
{
  for (qsizetype index = 0; index < requestQueue_.size (); index++)
    {
      if (requestQueue_.at (index).path != workingPath_)
        continue;
      if (requestQueue_.at (index).received || requestQueue_.at (index).delayed)
        {
          TRACE ("The file at " + workingPath_ + " waits for its restore");
          refuse ();
          return;
        }
      TRACE ("The item at " + workingPath_ + " is opened again");
      requestQueue_.removeAt (index);
      break;
    }
  if (restoring_)
    {
      TRACE ("restore process is going: delay the current reply");
      requestQueue_.append (delayCall (workingPath_, categories));
      return;
    }
  TRACE ("start restore process now");
  if (!prepareWorkingPath (workingPath_))
    {
      refuse ();
      return;
    }
  requestQueue_.append ({ connection (), message (), workingPath_, categories, false, false });
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
  RequestItem *opened = nullptr;
  for (RequestItem &item : requestQueue_)
    if (!item.received && !item.delayed && item.path == workingPath_)
      opened = &item;
  if (opened == nullptr)
    {
      TRACE ("No open item for " + workingPath_);
      refuse ();
      return;
    }
  opened->received = true;
  TRACE ("Start delayed restore operation");
  workingPath_.clear ();
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
  idleTimer_.stop ();
  connect (mainView_, &BackupMainView::signalLumoSuiteOperationFinished, this,
           &BackupService::lumoBackupFinished);
  mainView_->startLumoSuiteBackup ((SfCategory)backupItem_->categories);
}

void
BackupService::lumoBackupFinished (int status)
{
  disconnect (mainView_, &BackupMainView::signalLumoSuiteOperationFinished, this,
              &BackupService::lumoBackupFinished);
  int result = mapBackupResult (status) != 0 ? 2 : 0;
  if (!backupItem_)
    return;
  RequestItem item = *backupItem_;
  backupItem_.reset ();
  /* A cancelled or abandoned exchange takes no file. */
  if (exchange_ != Exchange::Backup)
    result = 2;
  if (result == 0)
    {
      QString error;
      TRACE ("Preparing a merged file " + item.path + " for sending to lumo suite");
      if (!prepareWorkingPath (item.path)
          || !LumoSuiteTransfer::merge (mainView_->getLumoSuiteFileList (), item.path, &error))
        {
          qWarning ("BackupService::startBackupOperation, Data packing not successful: %s",
                    qUtf8Printable (error));
          result = 2;
        }
      else
        TRACE ("File merging success");
    }
  if (!mainView_->removeLumoSuiteBackup ())
    qWarning ("BackupService::startBackupOperation, Removing backup not successful");
  TRACE ("Sending delayed reply");
  sendReply (item, result, result == 0 ? item.path : QString ());
  if (exchange_ == Exchange::Backup)
    touchExchange ();
  if (exitWhenIdle_)
    exitApp ();
}

void
BackupService::checkAndStartRestore ()
{
  if (restoring_)
    {
      TRACE ("Restore is ongoing, need to wait");
      return;
    }
  if (stopReply_)
    failUnreceivedItems ();
  for (const RequestItem &item : requestQueue_)
    if (item.received)
      {
        TRACE ("Starting the restore");
        startRestore (item);
        return;
      }
  if (requestQueue_.isEmpty () && stopReply_)
    finishRestoreExchange ();
  else
    TRACE ("More items has to be received, need to wait");
}

/* After the stop, the suite sends no more files: an item whose file never arrived complete is
 * not restored, and the suite learns it from the stop's answer. */
void
BackupService::failUnreceivedItems ()
{
  for (qsizetype index = requestQueue_.size () - 1; index >= 0; index--)
    if (!requestQueue_.at (index).received)
      {
        TRACE ("Transfer file never received: " + requestQueue_.at (index).path);
        RequestItem item = requestQueue_.takeAt (index);
        LumoSuiteTransfer::clearPath (item.path);
        if (item.delayed)
          sendReply (item, 2, QString ());
        restoreFailed_ = true;
      }
}

void
BackupService::finishRestoreExchange ()
{
  TRACE ("********All items in restore queue is finished***************");
  TRACE ("No more item to process");
  sendReply (*stopReply_, restoreFailed_ ? 2 : 0, stopReply_->path);
  stopReply_.reset ();
  endExchange (true);
  exitApp ();
}

void
BackupService::startRestore (RequestItem item)
{
  TRACE ("Inside BackupService::startRestore");
  TRACE ("Restoring from file " + item.path + ", Category = " + QString::number (item.categories));
  restoring_ = true;
  idleTimer_.stop ();
  QString directory = QFileInfo (mainView_->getLumoSuiteFilePath (0)).path ();
  QString error;
  bool split = LumoSuiteTransfer::split (item.path, directory, item.categories, &error);
  LumoSuiteTransfer::clearPath (item.path);
  if (!split)
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
  if (status == restoreSettingsWritten && exchange_ == Exchange::Restore)
    rebootNeeded_ = true;
  finishRestoreItem (mapRestoreResult (status) == 0 && !mainView_->lumoSuiteRestoreFailed ());
}

/* Ends the restore of the first received item, lets the suite send the next files, and looks
 * for the next restore to start once this call has returned. */
void
BackupService::finishRestoreItem (bool restored)
{
  if (!restored)
    restoreFailed_ = true;
  if (!mainView_->removeLumoSuiteBackup ())
    qWarning ("Not able to remove lumo backup files");
  for (qsizetype index = 0; index < requestQueue_.size (); index++)
    if (requestQueue_.at (index).received)
      {
        requestQueue_.removeAt (index);
        break;
      }
  restoring_ = false;
  if (exitWhenIdle_)
    {
      exitApp ();
      return;
    }
  answerWaitingOpens ();
  if (!stopReply_)
    touchExchange ();
  QMetaObject::invokeMethod (this, &BackupService::checkAndStartRestore, Qt::QueuedConnection);
}

void
BackupService::answerWaitingOpens ()
{
  for (RequestItem &item : requestQueue_)
    if (item.delayed)
      {
        TRACE ("Sending delayed reply");
        item.delayed = false;
        bool prepared = prepareWorkingPath (item.path);
        sendReply (item, prepared ? 0 : 2, prepared ? item.path : QString ());
      }
}

/* The suite said nothing for the whole bound while the phone had nothing of its exchange to do:
 * it is gone, and the service is free again. */
void
BackupService::exchangeIdle ()
{
  if (exchange_ == Exchange::None || restoring_ || backupItem_ || stopReply_)
    return;
  TRACE ("The suite's exchange was abandoned");
  rebootNeeded_ = false;
  endExchange (true);
  closeLumoOperationUI ();
}

void
BackupService::touchExchange ()
{
  idleTimer_.start (idleTimeoutMs ());
}

/* Ends the exchange where it stands: every call still waiting is answered with a failure, and
 * with removeFiles the files the suite did not take or that were never restored are removed. An
 * operation already running ends on its own. */
void
BackupService::endExchange (bool removeFiles)
{
  idleTimer_.stop ();
  exchange_ = Exchange::None;
  for (const char *directory :
       { "/contacts", "/calendar", "/messages", "/bookmarks", "/settings", "/applications" })
    if (removeFiles && (!backupItem_ || backupItem_->path != workingDirectory () + directory))
      LumoSuiteTransfer::clearPath (workingDirectory () + directory);
  for (const RequestItem &item : requestQueue_)
    if (item.delayed)
      sendReply (item, 2, QString ());
  if (!requestQueue_.isEmpty ())
    restoreFailed_ = true;
  requestQueue_.clear ();
  if (stopReply_)
    sendReply (*stopReply_, 2, stopReply_->path);
  stopReply_.reset ();
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
  if (!isServingRequests ())
    {
      TRACE ("No exchange of the suite to cancel");
      return;
    }
  closeRequested ();
}

void
BackupService::closeRequested ()
{
  if (backupItem_)
    {
      bool cancelable = false;
      mainView_->cancelLumoSuiteOperation (cancelable);
    }
  else if (restoring_)
    TRACE ("A restore cannot be stopped, the program ends once it has finished");
  if (operationPage_)
    operationPage_->setCancelling ();
  rebootNeeded_ = false;
  endExchange (true);
  quitWhenIdle ();
}

/* The program ends now, or once the running operation has ended. */
void
BackupService::quitWhenIdle ()
{
  exitWhenIdle_ = true;
  if (!backupItem_ && !restoring_)
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
  exitWhenIdle_ = false;
  if (rebootNeeded_)
    {
      rebootNeeded_ = false;
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
  if (mainView_->isBusy () || isServingRequests ())
    {
      TRACE ("An operation runs, no reboot");
      return;
    }
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
