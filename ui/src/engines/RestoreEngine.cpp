#include "sf-archiver-zip.h"
#include "sf-backup-configurations.h"
#include "sf-error.h"
#include "sf-handoff.h"
#include "sf-target-manager.h"
#include "sf-tree-removal.h"
#include "sf-utils.h"

#include "RestoreEngine.h"

#include "EngineOwner.h"
#include "RestoreRoomCheck.h"
#include "Tracing.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDateTime>
#include <QFile>
#include <QThread>
#include <QTimer>

/* Applications import what was restored when told "restore"; a large import on a phone takes
 * tens of seconds, and the window waits meanwhile before it may restart the device. */
int RestoreEngine::restoreAnswerTimeout = 30000;

namespace
{
const char *const modeService = "com.korvel.modus";
const char *const modePath = "/com/korvel/modus/request";
const char *const modeInterface = "com.korvel.modus.request";
const int initiateDelay = 500;
const int restoreStartsTimeout = 1000;
const quint32 cellularRadioBit = 1;
/* Every bit but the two it must leave alone. */
const quint32 radioChangeMask = ~6u;

QList<int>
singleCategories (int mask)
{
  QList<int> result;
  for (int index = 0; index < SF_CATEGORY_COUNT; index++)
    if (mask & sf_category_from_index (index))
      result << sf_category_from_index (index);
  return result;
}

QString
categoryNames (int mask)
{
  QStringList names;
  for (int category : singleCategories (mask))
    names << sf_category_to_string ((SfCategory)category);
  return names.join (' ');
}
} // namespace

RestoreEngine::RestoreEngine (QObject *owner, SfBackupInfo *info, int, QString password)
    : QObject (owner), backend (qobject_cast<EngineOwner *> (owner)->getBackend ()),
      password (password), owner (owner), categories (sf_backup_info_get_categories (info)),
      backupInfo (sf_backup_info_ref (info)), startTime (QDateTime::currentSecsSinceEpoch ()),
      failure (sf_restore_failure_new ())
{
  connect (&permanentCaller, &DBusMethodCaller::finished, this,
           &RestoreEngine::slotPermanentAppNotificationComplete);
  connect (&temporaryCaller, &DBusMethodCaller::finished, this,
           &RestoreEngine::slotTemporaryAppNotificationComplete);
}

RestoreEngine::~RestoreEngine ()
{
  if (worker)
    worker->wait ();
  g_clear_pointer (&checkInfo, sf_backup_info_unref);
  sf_restore_failure_unref (failure);
  sf_backup_info_unref (backupInfo);
}

bool
RestoreEngine::isLumoSuiteRestore () const
{
  return lumoSuiteRestore;
}

SfRestoreFailure *
RestoreEngine::getRestoreFailure () const
{
  return failure;
}

void
RestoreEngine::startRestore ()
{
  TRACE ("********* Restore started *********");
  lumoSuiteRestore = false;
  startTime = QDateTime::currentSecsSinceEpoch ();
  start ();
}

void
RestoreEngine::startLumoSuiteRestore ()
{
  TRACE ("********* Lumo Restore started *********");
  lumoSuiteRestore = true;
  start ();
}

void
RestoreEngine::setRestoreAnswerTimeout (int milliseconds)
{
  restoreAnswerTimeout = milliseconds;
}

void
RestoreEngine::start ()
{
  Q_EMIT restoreEngineStarted ();
  lastStateInfo.lockRestoreInfo ();
  lastStateInfo.lockMSM ();
  lastStateInfo.clearKeptExportAreas ();
  connect (owner, SIGNAL (signalBackendError (SfBackend *, GError *)), this,
           SLOT (slotBackendError (SfBackend *, GError *)));
  connect (owner, SIGNAL (signalBackendFinished (SfBackend *)), this,
           SLOT (slotBackendFinished (SfBackend *)));
  connect (owner, SIGNAL (signalBackendCancelled (SfBackend *)), this,
           SLOT (slotBackendCancelled (SfBackend *)));
  switchOffCellularAndWLan ();
  solvePermanentRestoration ();
}

void
RestoreEngine::switchOffCellularAndWLan ()
{
  QDBusConnection bus = QDBusConnection::systemBus ();
  QDBusMessage reply = bus.call (
      QDBusMessage::createMethodCall (modeService, modePath, modeInterface, "get_radio_states"));
  if (reply.type () != QDBusMessage::ReplyMessage || reply.arguments ().isEmpty ())
    {
      TRACE ("Not able to fetch the current radio state " + reply.errorName () + " "
             + reply.errorMessage ());
      return;
    }
  quint32 states = reply.arguments ().first ().toUInt ();
  TRACE ("Current radio state is " + QString::number (states));

  QDBusMessage change = QDBusMessage::createMethodCall (modeService, modePath, modeInterface,
                                                        "req_radio_states_change");
  change.setArguments ({ states & ~cellularRadioBit, radioChangeMask });
  QDBusMessage sent = bus.call (change, QDBus::NoBlock);
  if (sent.type () == QDBusMessage::ErrorMessage)
    TRACE ("Not able to switch off cellular radio ...." + sent.errorMessage ());
  else
    TRACE ("Cellular radio is switched off");
}

void
RestoreEngine::solvePermanentRestoration ()
{
  restoreInProgress = true;
  QList<DBusServiceInfo> services
      = permanentCaller.getDBusServiceInfos (BackupMethodPermanentFiles, categories);
  if (services.isEmpty ())
    {
      TRACE ("No applications to be notified about restore starting");
      QTimer::singleShot (initiateDelay, this, &RestoreEngine::asyncInitiateRestore);
      return;
    }
  TRACE ("'restoreStarts' method is called on all applications");
  permanentCaller.callDBusMethod ("restoreStarts", services, {}, restoreStartsTimeout);
}

void
RestoreEngine::slotPermanentAppNotificationComplete (DBusCallStatus status, QString methodName)
{
  if (status == DBusCallCancelled)
    return;
  if (methodName == "restoreStarts")
    QTimer::singleShot (initiateDelay, this, &RestoreEngine::asyncInitiateRestore);
  else if (methodName == "restoreFinished")
    {
      permanentCaller.writeFailedAppNamesToErrorLog ();
      permanentDone = true;
      if (temporaryDone)
        asyncRestoreFinished ();
    }
}

void
RestoreEngine::slotTemporaryAppNotificationComplete (DBusCallStatus status, QString)
{
  if (status == DBusCallCancelled)
    return;
  temporaryDone = true;
  if (permanentDone)
    asyncRestoreFinished ();
}

void
RestoreEngine::runOffMainThread (std::function<void ()> work, std::function<void ()> then)
{
  if (worker)
    worker->wait ();
  worker.reset (QThread::create ([this, work] () {
    work ();
    sf_handoff_send (this);
  }));
  /* Made here, so that only the thread's end crosses over; delivered queued on this thread. */
  connect (worker.get (), &QThread::finished, this, [this, then] () {
    sf_handoff_receive (this);
    then ();
  });
  worker->start ();
}

void
RestoreEngine::failCategories (int mask, int reason)
{
  for (int category : singleCategories (mask))
    sf_restore_failure_set_category_reason (failure, (SfCategory)category, reason);
}

void
RestoreEngine::asyncInitiateRestore ()
{
  /* Nothing is removed unless the restore can run: a backend free for it and the backup still
   * where it was. */
  if (backend == nullptr || sf_backend_get_state (backend) != SF_BACKEND_STATE_IDLE)
    {
      TRACE ("(RestoreEngine) Error: No backend, or it is busy");
      failCategories (categories, SF_RESTORE_FAILURE_UNKNOWN_ERROR);
      setFinalizing ();
      return;
    }
  auto locations = [this] (SfBackupLocations *table) {
    QList<Location> result;
    GSList *infos = sf_backup_locations_get_uri_infos (table, categories, FALSE);
    for (GSList *item = infos; item != NULL; item = item->next)
      {
        auto *info = static_cast<SfBackupUriInfo *> (item->data);
        g_autofree gchar *path = g_strcompress (info->uri);
        result << Location{ QString::fromUtf8 (path), (int)info->categories };
      }
    g_slist_free_full (infos, (GDestroyNotify)sf_backup_uri_info_free);
    return result;
  };
  temporaryLocations = locations (sf_backup_configurations_get_locations ());
  permanentLocations = locations (sf_backup_configurations_get_permanent_locations ());
  SfTarget *target
      = sf_target_manager_get_target_from_backup (sf_target_manager_get (), backupInfo);
  if (target != nullptr && sf_target_get_is_available (target))
    checkInfo = sf_backup_info_new_from_directory (sf_backup_info_get_uri (backupInfo));
  if (checkInfo == nullptr)
    {
      TRACE ("The backup or its memory is no longer there, nothing is removed");
      failCategories (categories, SF_RESTORE_FAILURE_UNKNOWN_ERROR);
      setFinalizing ();
      return;
    }
  runOffMainThread ([this] () { initiateRestore (); }, [this] () { startBackendRestore (); });
}

void
RestoreEngine::initiateRestore ()
{
  TRACE ("initiateRestore");
  checkArchives ();
  checkRoom ();
  if (checkedCategories == 0)
    {
      TRACE ("No category of the backup can be restored, nothing is removed");
      return;
    }
  removeTempFiles ();
  removePermanentFiles ();
}

void
RestoreEngine::checkArchives ()
{
  QByteArray key = password.toUtf8 ();
  struct Entries
  {
    RestoreRoomCheck *room;
    int category;
  };
  SfArchiveCheckFunc addEntry = [] (const gchar *name, guint64 size, gpointer data) {
    auto *entries = static_cast<Entries *> (data);
    entries->room->addEntry (entries->category, QString::fromUtf8 (name), size);
  };
  for (int category : singleCategories (categories))
    {
      g_autoptr (GError) error = NULL;
      Entries entries{ &room, category };
      if (checkInfo != nullptr
          && sf_archiver_zip_check_category (checkInfo, (SfCategory)category,
                                             key.isEmpty () ? NULL : key.constData (), addEntry,
                                             &entries, &error))
        {
          checkedCategories |= category;
          continue;
        }
      TRACE (QString ("Archive of ") + sf_category_to_string ((SfCategory)category)
             + " does not check out: " + (error != NULL ? error->message : "no backup record"));
      checkFailures << qMakePair (category,
                                  g_error_matches (error, SF_ERROR, SF_ERROR_WRONG_PASSWORD)
                                      ? SF_RESTORE_FAILURE_UNKNOWN_ERROR
                                      : SF_RESTORE_FAILURE_CORRUPT_BACKUP);
    }
}

void
RestoreEngine::checkRoom ()
{
  /* What a category's removal frees counts only when its locations are emptied: a location shared
   * with a category whose archive failed keeps its files. */
  int failed = categories & ~checkedCategories;
  for (const QList<Location> *table : { &temporaryLocations, &permanentLocations })
    for (const Location &location : *table)
      if ((location.categories & failed) == 0)
        room.addLocation (location.path, location.categories);
  int fitting = room.admit (singleCategories (checkedCategories));
  for (int category : singleCategories (checkedCategories & ~fitting))
    {
      TRACE (QString ("Not enough space to restore ") + sf_category_to_string ((SfCategory)category)
             + ", it is left as it is");
      checkFailures << qMakePair (category, (int)SF_RESTORE_FAILURE_INSUFFICIENT_SPACE);
    }
  checkedCategories = fitting;
}

void
RestoreEngine::removeLocations (const QList<Location> &locations)
{
  /* A location shared with a category that did not check out keeps its files. */
  int failed = categories & ~checkedCategories;
  for (const Location &location : locations)
    if ((location.categories & checkedCategories) != 0 && (location.categories & failed) == 0)
      {
        g_autoptr (GError) error = NULL;
        if (!sf_tree_removal_clear_location (location.path.toUtf8 ().constData (),
                                             location.categories, &error))
          TRACE ("Could not remove all of " + location.path + ": "
                 + (error != NULL ? error->message : "not a local path"));
      }
}

void
RestoreEngine::removeTempFiles ()
{
  TRACE ("Removing temporary files");
  removeLocations (temporaryLocations);
}

void
RestoreEngine::removePermanentFiles ()
{
  TRACE ("Removing Permanent files");
  removeLocations (permanentLocations);
}

void
RestoreEngine::startBackendRestore ()
{
  g_clear_pointer (&checkInfo, sf_backup_info_unref);
  for (const QPair<int, int> &checkFailure : checkFailures)
    sf_restore_failure_set_category_reason (failure, (SfCategory)checkFailure.first,
                                            checkFailure.second);
  if (checkedCategories == 0)
    {
      setFinalizing ();
      return;
    }
  sf_utils_suggest_gconf_sync ();
  TRACE ("sending restore request to backend");
  QByteArray key = password.toUtf8 ();
  g_autoptr (GError) error = NULL;
  backendStarted
      = sf_backend_start_restore (backend, backupInfo, key.isEmpty () ? NULL : key.constData (),
                                  (SfCategory)checkedCategories, &error);
  if (!backendStarted)
    {
      /* No finished or cancelled signal follows: finish here, or the restore never ends. */
      TRACE ("(RestoreEngine) Error: sf_backend_start_restore failed! "
             + QString (error != NULL ? error->message : ""));
      failCategories (checkedCategories, SF_RESTORE_FAILURE_UNKNOWN_ERROR);
      setFinalizing ();
      return;
    }
  TRACE ("sending restore request to backend completed");
}

void
RestoreEngine::slotBackendError (SfBackend *, GError *error)
{
  TRACE (QString ("BACKEND_ERROR_CB: ") + error->message);
}

void
RestoreEngine::slotBackendFinished (SfBackend *)
{
  TRACE ("------------->>> BACKEND_FINISHED_CB");
  setFinalizing ();
}

void
RestoreEngine::slotBackendCancelled (SfBackend *)
{
  TRACE ("------------->>> BACKEND_CANCELLED_CB");
  setFinalizing ();
}

void
RestoreEngine::setFinalizing ()
{
  collectRestoreData ();
}

void
RestoreEngine::collectRestoreData ()
{
  QList<DBusServiceInfo> permanent
      = permanentCaller.getDBusServiceInfos (BackupMethodPermanentFiles, categories);
  QList<DBusServiceInfo> temporary
      = temporaryCaller.getDBusServiceInfos (BackupMethodDBus, categories);
  permanentDone = permanent.isEmpty ();
  temporaryDone = temporary.isEmpty ();
  if (permanentDone && temporaryDone)
    {
      asyncRestoreFinished ();
      return;
    }
  if (!permanentDone)
    permanentCaller.callDBusMethod ("restoreFinished", permanent, {}, 0);
  if (!temporaryDone)
    {
      QStringList restored = { "contacts",  "emails",   "messaging",   "organizer",
                               "bookmarks", "settings", "applications" };
      temporaryCaller.callDBusMethod ("restore", temporary,
                                      { restored, QString ("solano"), QStringList () },
                                      restoreAnswerTimeout);
    }
}

void
RestoreEngine::asyncRestoreFinished ()
{
  TRACE ("restoreFinished " + categoryNames (categories));
  SfCategory written = SF_CATEGORY_NONE;
  guint64 restoredSize = 0;
  if (backendStarted)
    {
      SfRestoreFailure *backendFailure = sf_backend_get_restore_failure (backend);
      for (int category : singleCategories (categories))
        if (backendFailure != NULL
            && sf_restore_failure_has_category (backendFailure, (SfCategory)category))
          sf_restore_failure_set_category_reason (
              failure, (SfCategory)category,
              sf_restore_failure_get_category_reason (backendFailure, (SfCategory)category));
      written = sf_backend_get_written_categories (backend);
      restoredSize = sf_backend_get_processed_size (backend);
      TRACE ("written_categories: " + QString::number (written));
    }
  if (checkedCategories == 0)
    {
      finishRestore (written, restoredSize);
      return;
    }
  keepAreasOfLateApplications ();
  runOffMainThread ([this] () { removeTempFiles (); },
                    [this, written, restoredSize] () { finishRestore (written, restoredSize); });
}

void
RestoreEngine::keepAreasOfLateApplications ()
{
  const QStringList late = temporaryCaller.getTimedOutApps ();
  if (late.isEmpty ())
    return;
  QStringList kept;
  GHashTableIter iter;
  gpointer value;
  g_hash_table_iter_init (&iter, sf_backup_configurations_get_locations ());
  while (g_hash_table_iter_next (&iter, NULL, &value))
    {
      auto *location = static_cast<SfBackupLocation *> (value);
      if (!location->is_exclusion && (location->categories & categories) != 0
          && late.contains (QString::fromUtf8 (location->appl_name)))
        kept << QFile::decodeName (location->path);
    }
  QList<Location> remaining;
  for (const Location &location : std::as_const (temporaryLocations))
    if (!kept.contains (location.path))
      remaining << location;
  temporaryLocations = remaining;
  lastStateInfo.keepExportAreas (kept);
}

void
RestoreEngine::finishRestore (SfCategory written, guint64 restoredSize)
{
  if (written & SF_CATEGORY_APPLICATIONS)
    {
      if (sf_utils_write_last_restore (failure, written, restoredSize))
        TRACE ("Package manager will be invoked on next startup");
      else
        TRACE ("Couldn't save restore state, probably full disk");
    }
  int status = 200;
  if (written & SF_CATEGORY_SETTINGS)
    {
      TRACE ("Settings restored, need to reboot");
      status = 204;
    }
  else if (written & SF_CATEGORY_APPLICATIONS)
    {
      TRACE ("Application list restored, need to start application manager");
      status = 203;
    }
  /* A backup nothing came back from was not used for a restore. */
  if (written != SF_CATEGORY_NONE)
    {
      sf_backup_info_set_time_for_restoration (backupInfo,
                                               (gint32)QDateTime::currentSecsSinceEpoch ());
      g_autoptr (GError) error = sf_backup_info_write_metadata (backupInfo);
      if (error != NULL)
        TRACE (QString ("Could not record the restoration time: ") + error->message);
    }
  restoreInProgress = false;
  restoreDone (status);
}

void
RestoreEngine::restoreDone (int status)
{
  TRACE ("Restore is finished, status code = " + QString::number (status));
  TRACE ("Restore is finished in "
         + QString::number (QDateTime::currentSecsSinceEpoch () - startTime) + " Seconds"
         + "(perf_check)");
  /* A category whose current files were removed and that did not come back whole leaves the
   * phone without part of its data (the memory holding the backup was pulled out, say): the next
   * start reports the restore as interrupted. */
  bool incomplete = false;
  for (int category : singleCategories (checkedCategories))
    incomplete = incomplete || sf_restore_failure_has_category (failure, (SfCategory)category);
  if (incomplete)
    TRACE ("Removed categories were not restored whole, the restore marker is kept");
  else
    lastStateInfo.unlockRestoreInfo ();
  lastStateInfo.unlockMSM ();
  Q_EMIT restoreEngineFinished (status);
}
