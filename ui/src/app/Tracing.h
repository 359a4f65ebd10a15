#pragma once

#include <QtGlobal>

/* Trace level of the application half: 1 by default, 2 switches its traces on. Set once by
 * initTracing. */
extern int traceLevel;

/* Sets up tracing from "~/.safehold/trace.conf" or BACKUP_UI_LOG_LEVEL, the toolkit's traces
 * with it, and returns the level. Called once by main before anything else. */
int initTracing ();

/* Writes "<source path> <line> <function> <message>" as a Qt debug message when traces are on.
 * The message is anything QString can be built from. */
#define TRACE(message)                                                                             \
  do                                                                                               \
    {                                                                                              \
      if (traceLevel == 2)                                                                         \
        qDebug ("%s %d %s %s", __FILE__, __LINE__, __func__, qUtf8Printable (QString (message)));  \
    }                                                                                              \
  while (0)
