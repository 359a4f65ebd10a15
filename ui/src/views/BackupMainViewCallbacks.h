#pragma once

#include "sf-backend.h"
#include "sf-target-manager.h"

/* Handlers of the engine's GObject signals; user data is the BackupMainView, whose method of the
 * same meaning each calls at once (the engine emits them on the GUI thread, except
 * "backup-list-load-complete", which comes from the loading thread). */
void backendProgressCallback (SfBackend *backend, gint files, gint total, gint complete,
                              SfCategory category, gpointer mainView);
void backendErrorCallback (SfBackend *backend, GError *error, gpointer mainView);
void backendFinishedCallback (SfBackend *backend, gpointer mainView);
void backendCancelledCallback (SfBackend *backend, gpointer mainView);
void targetAddedCallback (SfTargetManager *manager, SfTarget *target, gpointer mainView);
void targetRemovedCallback (SfTargetManager *manager, SfTarget *target, gpointer mainView);
void backupsChangedCallback (SfTargetManager *manager, SfTarget *target, gpointer mainView);
void backupsListLoadCompleteCallback (SfTargetManager *manager, SfTarget *target,
                                      gpointer mainView);
void notifyIsAvailableCallback (SfTarget *target, GParamSpec *pspec, gpointer mainView);
