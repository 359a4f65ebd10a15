#include "BackupApplicationService.h"

#include "Tracing.h"

BackupApplicationService::BackupApplicationService (const QString &serviceName, QObject *parent)
    : TkApplicationService (serviceName, parent)
{
}

void
BackupApplicationService::launch ()
{
  TRACE ("****** Tried to relaunch the application");
  emit triedToLaunchNewInstance ();
  TkApplicationService::launch ();
}
