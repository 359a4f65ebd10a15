#pragma once

#include "sf-backend.h"
#include "sf-target.h"

#include <QObject>
#include <QString>

/* What the backup and restore engines need of the object that owns them (the main view). That
 * object is a QObject implementing this interface and declaring the signals
 *   signalBackendError(SfBackend*, GError*)   the backend's "error"; the error is freed after it
 *   signalBackendFinished(SfBackend*)         the backend's "finished"
 *   signalBackendCancelled(SfBackend*)        the backend's "cancelled"
 *   signalEngineEmittedBackupChanged()        a target's list of backups changed
 * which the engines connect by name. Main thread only. */
class EngineOwner
{
public:
  /* The process's backend, borrowed. */
  virtual SfBackend *getBackend () = 0;
  /* Removes the folder of that name below target's backups folder, and nothing on any other
   * target; false when that failed. */
  virtual bool removeBackupFolder (SfTarget *target, QString name) = 0;

protected:
  ~EngineOwner () = default;
};

Q_DECLARE_INTERFACE (EngineOwner, "safehold.EngineOwner")
