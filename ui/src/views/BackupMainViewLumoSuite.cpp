#include "sf-category.h"

#include "BackupMainView.h"

#include "BackupEngine.h"
#include "BackupRestoreErrorUtils.h"
#include "BackupRestoreUtils.h"
#include "BackupService.h"
#include "RestoreEngine.h"
#include "Tracing.h"
#include "WindowProperties.h"

#include <QCoreApplication>
#include <QUrl>

namespace
{
const char *const suiteBackupName = "LUMO Suite Backup";
const int backupNoSpace = 102;
const int backupFailed = 103;
/* Not a restore status: the suite's restore could not start. */
const int restoreNotStarted = 0;
} // namespace

bool
BackupMainView::isLumoRequestsRunning () const
{
  return backupService != nullptr && backupService->isServingRequests ();
}

void
BackupMainView::startLumoSuiteBackup (SfCategory categories)
{
  if (finishingRestore)
    {
      TRACE ("Finishing a restore: no desktop-suite backup");
      slotLumosuiteBackupEngineFinished (backupFailed);
      return;
    }
  initBackupEngine ();
  SfTarget *target = getDefaultTarget ();
  if (isUsbConnectedInMSMMode () || target == nullptr)
    {
      TRACE ("Device connected in mass storage mode, can not start lumo backup");
      slotLumosuiteBackupEngineFinished (backupNoSpace);
      return;
    }
  backupRunning = true;
  QVariantMap description{ { QStringLiteral ("name"), QLatin1String (suiteBackupName) },
                           { QStringLiteral ("notes"), QLatin1String (suiteBackupName) },
                           { QStringLiteral ("password"), QString () } };
  deleteEngines ();
  backupEngine = new BackupEngine (backend, target, categories, this, description);
  connect (backupEngine, &BackupEngine::backupEngineFinished, this,
           &BackupMainView::slotLumosuiteBackupEngineFinished);
  connect (this, &BackupMainView::signalCancelLumoSuiteOperation, backupEngine,
           &BackupEngine::slotCancelLumoSuiteBackup);
  BackupRestoreErrorUtils::removeErrorLog ();
  backupEngine->startBackup ();
}

void
BackupMainView::slotLumosuiteBackupEngineFinished (int statusCode)
{
  TRACE ("lumo suite backup finished");
  backupRunning = false;
  Q_EMIT signalLumoSuiteOperationFinished (statusCode);
}

SfBackupInfo *
BackupMainView::findLumoSuiteBackup () const
{
  SfTarget *target = getDefaultTarget ();
  return target != nullptr ? sf_target_get_backup_by_name (target, suiteBackupName) : nullptr;
}

void
BackupMainView::startLumoSuiteRestore (SfCategory categories)
{
  if (finishingRestore)
    {
      TRACE ("Finishing a restore: no desktop-suite restore");
      Q_EMIT signalLumoSuiteOperationFinished (restoreNotStarted);
      return;
    }
  initBackupEngine ();
  lumoRestoreFailed = true;
  if (isUsbConnectedInMSMMode ())
    {
      TRACE ("Device connected in mass storage mode, can not start lumo restore");
      Q_EMIT signalLumoSuiteOperationFinished (restoreNotStarted);
      return;
    }
  g_autoptr (SfBackupInfo) info = findLumoSuiteBackup ();
  /* The suite's metadata may name more than the item carries: the restore covers the item. */
  if (info != NULL)
    sf_backup_info_set_categories (info, sf_backup_info_get_categories (info) & categories);
  if (info == NULL || sf_backup_info_get_categories (info) == 0)
    {
      TRACE ("Lumo restore item not found, restore cancelled");
      Q_EMIT signalLumoSuiteOperationFinished (restoreNotStarted);
      return;
    }
  /* A running restore for every guard: close, cancel, shutdown, launches. */
  restoreRunning = true;
  deleteEngines ();
  restoreEngine = new RestoreEngine (this, info, categories, QString ());
  connect (restoreEngine, &RestoreEngine::restoreEngineFinished, this,
           &BackupMainView::slotLumosuiteRestoreEngineFinished);
  WindowProperties::removePingProtocol (this);
  restoreEngine->startLumoSuiteRestore ();
}

void
BackupMainView::slotLumosuiteRestoreEngineFinished (int statusCode)
{
  TRACE ("lumo suite restore finished");
  restoreRunning = false;
  lumoRestoreFailed = restoreEngine == nullptr
                      || sf_restore_failure_has_failures (restoreEngine->getRestoreFailure ());
  Q_EMIT signalLumoSuiteOperationFinished (statusCode);
}

QString
BackupMainView::getLumoSuiteFilePath (int id)
{
  SfTarget *target = getDefaultTarget ();
  if (target == nullptr)
    return QString ();
  QString directory = QUrl::fromEncoded (sf_target_get_backups_uri (target)).toLocalFile () + '/'
                      + QCoreApplication::translate ("BackupMainView", suiteBackupName) + '/';
  if (id == 0)
    return directory + QStringLiteral ("backup.metadata");
  return directory + QString::fromUtf8 (sf_category_to_string (SfCategory (id)))
         + QStringLiteral (".zip");
}

QMap<int, QString>
BackupMainView::getLumoSuiteFileList ()
{
  QMap<int, QString> files;
  g_autoptr (SfBackupInfo) info = findLumoSuiteBackup ();
  if (info == NULL)
    return files;
  files.insert (0, getLumoSuiteFilePath (0));
  guint32 categories = sf_backup_info_get_categories (info);
  for (int index = 0; index < SF_CATEGORY_COUNT; index++)
    {
      int category = 1 << index;
      if ((categories & category) != 0)
        files.insert (category, getLumoSuiteFilePath (category));
    }
  return files;
}

bool
BackupMainView::removeLumoSuiteBackup ()
{
  return removeBackupFolder (getDefaultTarget (), QLatin1String (suiteBackupName));
}

void
BackupMainView::cancelLumoSuiteOperation (bool &cancelable)
{
  Q_EMIT signalCancelLumoSuiteOperation (cancelable);
}

void
BackupMainView::slotFinishLumoSuiteOperation (int result)
{
  Q_EMIT signalLumoSuiteOperationFinished (result);
}
