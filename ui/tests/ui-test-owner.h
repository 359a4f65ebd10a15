#pragma once

/* GIO names a struct member "signals", a Qt keyword: engine headers are read without it. */
#pragma push_macro("signals")
#undef signals
#include "sf-backend.h"
#include "sf-target-fake.h"
#pragma pop_macro("signals")

#include "EngineOwner.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <vector>

/* Stands in for the main view: re-emits the backend's signals as Qt signals and removes backups
 * from one fake target. */
class TestOwner : public QObject, public EngineOwner
{
  Q_OBJECT
  Q_INTERFACES (EngineOwner)

public:
  TestOwner (SfBackend *backend, SfTarget *target) : backend (backend), target (target)
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

  bool removeBackupByName (QString name) override
  {
    removed << name;
    SfBackupInfo *info = sf_target_get_backup_by_name (target, name.toUtf8 ().constData ());
    if (info == NULL)
      return false;
    gboolean done = sf_target_remove_backup (target, info);
    sf_backup_info_unref (info);
    return done;
  }

  QStringList removed;

Q_SIGNALS:
  void signalBackendError (SfBackend *backend, GError *error);
  void signalBackendFinished (SfBackend *backend);
  void signalBackendCancelled (SfBackend *backend);
  void signalEngineEmittedBackupChanged ();

private:
  SfBackend *backend;
  SfTarget *target;
  std::vector<gulong> handlers;
};
