#pragma once

#include "TkMessageBox.h"

/* Asks whether to delete the backup name made at timestamp (seconds since the epoch); accepted()
 * means yes. */
class RestoreDeleteFileQueryDialog : public TkMessageBox
{
  Q_OBJECT

public:
  RestoreDeleteFileQueryDialog (const QString &name, qint64 timestamp, QWidget *mainView);
};
