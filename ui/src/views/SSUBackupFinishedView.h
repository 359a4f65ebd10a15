#pragma once

#include "TkPage.h"

/* The page shown when the backup made before a system software update is ready. Its button and
 * its back button emit ssuFinalWindowClosed(). */
class SSUBackupFinishedView : public TkPage
{
  Q_OBJECT

public:
  explicit SSUBackupFinishedView (QWidget *parent = nullptr);

Q_SIGNALS:
  void ssuFinalWindowClosed ();
};
