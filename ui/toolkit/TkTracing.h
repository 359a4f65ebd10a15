#pragma once

#include <QLoggingCategory>
#include <QString>

/* The toolkit's traces: debug messages of the category "safehold.toolkit", off until the
 * application switches them on and routes them where its own traces go. */
Q_DECLARE_LOGGING_CATEGORY (tkTrace)

/* Writes "<source path> <line> <function> <message>" in the toolkit's category. The message is
 * anything QString can be built from. */
#define TK_TRACE(message)                                                                          \
  qCDebug (tkTrace, "%s %d %s %s", __FILE__, __LINE__, __func__, qUtf8Printable (QString (message)))
