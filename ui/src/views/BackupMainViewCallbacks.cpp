#include "BackupMainViewCallbacks.h"

#include "BackupMainView.h"

namespace
{
BackupMainView *
view (gpointer mainView)
{
  return static_cast<BackupMainView *> (mainView);
}
} // namespace

void
backendProgressCallback (SfBackend *backend, gint files, gint total, gint complete,
                         SfCategory category, gpointer mainView)
{
  view (mainView)->backendProgress (backend, files, total, complete, category);
}

void
backendErrorCallback (SfBackend *backend, GError *error, gpointer mainView)
{
  view (mainView)->backendError (backend, error);
}

void
backendFinishedCallback (SfBackend *backend, gpointer mainView)
{
  view (mainView)->backendFinished (backend);
}

void
backendCancelledCallback (SfBackend *backend, gpointer mainView)
{
  view (mainView)->backendCancelled (backend);
}

void
targetAddedCallback (SfTargetManager *manager, SfTarget *target, gpointer mainView)
{
  view (mainView)->targetAdded (manager, target);
}

void
targetRemovedCallback (SfTargetManager *manager, SfTarget *target, gpointer mainView)
{
  view (mainView)->targetRemoved (manager, target);
}

void
backupsChangedCallback (SfTargetManager *, SfTarget *, gpointer mainView)
{
  view (mainView)->backupsChanged ();
}

void
backupsListLoadCompleteCallback (SfTargetManager *, SfTarget *, gpointer mainView)
{
  view (mainView)->backupsListLoadComplete ();
}

void
notifyIsAvailableCallback (SfTarget *target, GParamSpec *pspec, gpointer mainView)
{
  view (mainView)->isTargetAvailable (target, pspec);
}
