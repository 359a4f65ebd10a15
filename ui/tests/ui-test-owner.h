#pragma once

#include "sf-backend.h"
#include "sf-target-fake.h"
#include "sf-target-manager.h"

#include "BackupRestoreUtils.h"
#include "EngineOwner.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <vector>

/* Stands in for the main view: re-emits the backend's signals as Qt signals and removes backup
 * folders as the main view does. */
class TestOwner : public QObject, public EngineOwner
{
  Q_OBJECT
  Q_INTERFACES (EngineOwner)

public:
  explicit TestOwner (SfBackend *backend) : backend (backend)
  {
    handlers.push_back (g_signal_connect (
        backend, "error", G_CALLBACK (+[] (SfBackend *backend, GError *error, gpointer self) {
          Q_EMIT static_cast<TestOwner *> (self)->signalBackendError (backend, error);
        }),
        this));
    handlers.push_back (
        g_signal_connect (backend, "finished", G_CALLBACK (+[] (SfBackend *backend, gpointer self) {
                            Q_EMIT static_cast<TestOwner *> (self)->signalBackendFinished (backend);
                          }),
                          this));
    handlers.push_back (g_signal_connect (
        backend, "cancelled", G_CALLBACK (+[] (SfBackend *backend, gpointer self) {
          Q_EMIT static_cast<TestOwner *> (self)->signalBackendCancelled (backend);
        }),
        this));
  }
  ~TestOwner () override
  {
    for (gulong handler : handlers)
      g_signal_handler_disconnect (backend, handler);
  }

  SfBackend *getBackend () override
  {
    return backend;
  }

  bool removeBackupFolder (SfTarget *target, QString name) override
  {
    removed << name;
    removedFrom << target;
    return BackupRestoreUtils::removeBackupFolder (target, name);
  }

  QStringList removed;
  QList<SfTarget *> removedFrom;

Q_SIGNALS:
  void signalBackendError (SfBackend *backend, GError *error);
  void signalBackendFinished (SfBackend *backend);
  void signalBackendCancelled (SfBackend *backend);
  void signalEngineEmittedBackupChanged ();

private:
  SfBackend *backend;
  std::vector<gulong> handlers;
};
