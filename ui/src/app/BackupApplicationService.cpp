#include "BackupApplicationService.h"

#include "BackupMainView.h"
#include "Tracing.h"

BackupApplicationService::BackupApplicationService (const QString &serviceName, QObject *parent)
    : TkApplicationService (serviceName, parent)
{
}

void
BackupApplicationService::launch ()
{
  TRACE ("****** Tried to relaunch the application");
  Q_EMIT triedToLaunchNewInstance ();
  /* Service mode hides the window while the desktop suite drives an exchange. */
  BackupMainView *mainView = BackupMainView::instance ();
  if (mainView != nullptr && mainView->isServiceMode ())
    {
      TRACE ("In service mode, the window stays hidden");
      return;
    }
  TkApplicationService::launch ();
}
