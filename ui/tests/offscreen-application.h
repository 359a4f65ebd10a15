#pragma once

#include "TkApplication.h"

#include <QCoreApplication>

/* The one application object of a widget test, on the offscreen platform, with the program's
 * catalogue and style; it lives until the process ends. */
inline void
ensureApplication ()
{
  static int argc = 1;
  static char name[] = "safehold-ui-test";
  static char *argv[] = { name, nullptr };
  if (QCoreApplication::instance () == nullptr)
    {
      qputenv ("QT_QPA_PLATFORM", "offscreen");
      new TkApplication (argc, argv, QStringLiteral ("backup"), nullptr);
    }
}
