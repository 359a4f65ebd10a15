#pragma once

#include "TkApplicationService.h"

/* The program's single-instance service on "com.korvel.backup": a second start of the program
 * reaches the running one here. */
class BackupApplicationService : public TkApplicationService
{
  Q_OBJECT

public:
  explicit BackupApplicationService (const QString &serviceName, QObject *parent = nullptr);

Q_SIGNALS:
  void triedToLaunchNewInstance ();

public Q_SLOTS:
  /* Tells the main view, then raises the window as the toolkit does, unless service mode hid it. */
  void launch () override;
};
