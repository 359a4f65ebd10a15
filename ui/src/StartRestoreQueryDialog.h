#pragma once

#include "TkMessageBox.h"

/* Asks whether to restore the chosen backup; accepted() means yes. */
class StartRestoreQueryDialog : public TkMessageBox
{
  Q_OBJECT

public:
  explicit StartRestoreQueryDialog (QWidget *mainView);
};
