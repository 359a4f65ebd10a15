#pragma once

#include "sf-category.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

class BackupService;

/* Stand-in for the main view with the operations the desktop-suite service drives: it records
 * what it is asked, and a test ends each operation by emitting signalLumoSuiteOperationFinished.
 * The suite backup lives in backupDirectory. */
class BackupMainView : public QObject
{
  Q_OBJECT

public:
  bool isBusy () const
  {
    return busy;
  }
  bool isServiceMode () const
  {
    return serviceMode;
  }
  bool setServiceMode (bool on)
  {
    serviceMode = on;
    return true;
  }
  void setBackupService (BackupService *service)
  {
    this->service = service;
  }
  /* Makes the suite backup as a real backup would: the metadata and one archive per category. */
  void startLumoSuiteBackup (SfCategory categories);
  /* Records the categories and the suite backup's files as the restore would find them. */
  void startLumoSuiteRestore (SfCategory categories);
  QMap<int, QString> getLumoSuiteFileList ();
  QString getLumoSuiteFilePath (int id);
  bool removeLumoSuiteBackup ();
  void cancelLumoSuiteOperation (bool &cancelable)
  {
    cancels++;
    cancelable = true;
  }
  bool lumoSuiteRestoreFailed () const
  {
    return restoreFails;
  }
  QString getCachedTranslation (const QString &id)
  {
    return id;
  }

  QString backupDirectory;
  bool busy = false;
  bool serviceMode = false;
  bool restoreFails = false; // the restores leave a category unrestored
  BackupService *service = nullptr;
  QList<int> backups;
  QList<int> restores;
  QList<QMap<QString, QByteArray>> restoredFiles; // per restore: file name to content
  /* Statuses that end the next operations on their own, one each, in order. */
  QList<int> outcomes;
  int cancels = 0;
  int reboots = 0;
  int closes = 0;

public Q_SLOTS:
  void rebootAfterRestore ()
  {
    reboots++;
  }
  void closeApplication ()
  {
    closes++;
  }

private:
  void finishOnItsOwn ();

Q_SIGNALS:
  void signalLumoSuiteOperationFinished (int result);
};
