#include "BackupIfAdaptor.h"

#include "BackupService.h"

BackupIfAdaptor::BackupIfAdaptor (BackupService *service)
    : QDBusAbstractAdaptor (service), service_ (service)
{
  setAutoRelaySignals (true);
}

int
BackupIfAdaptor::request (const QString &operation, const QString &command, int fileSize,
                          QString &filePath)
{
  return service_->request (operation, command, fileSize, filePath);
}

void
BackupIfAdaptor::cancel ()
{
  QMetaObject::invokeMethod (service_, "cancel");
}
