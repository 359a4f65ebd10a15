#pragma once

#include "TkMessageBox.h"

/* Asks whether to restore the chosen backup; accepted() means yes. */
class StartRestoreQueryDialog : public TkMessageBox
{
  Q_OBJECT

public:
  /* name is the chosen backup's, named in the question. */
  explicit StartRestoreQueryDialog (QWidget *mainView, const QString &name = QString ());
};
