#include "Tracing.h"

#include "TkTracing.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QString>
#include <QTime>

#include <cstdlib>
#include <glib.h>
#include <syslog.h>

int traceLevel = 1;

namespace
{
const char *const traceConfigPath = "~/.safehold/trace.conf";
const char *const traceLogPath = "~/.safehold/trace.log";
const qint64 traceLogLimit = 1024000;

QFile *traceFile = nullptr;
/* GLib messages of the archiver's worker thread arrive here too; one line at a time keeps the
 * file object sound. */
QMutex traceMutex;

QString
expandHome (const QString &path)
{
  return path.startsWith ('~') ? QDir::homePath () + path.mid (1) : path;
}

const char *
levelName (QtMsgType type)
{
  switch (type)
    {
    case QtCriticalMsg:
      return "Critical";
    case QtFatalMsg:
      return "Fatal";
    case QtWarningMsg:
      return "Warning";
    default:
      return "Debug";
    }
}

int
syslogPriority (QtMsgType type)
{
  switch (type)
    {
    case QtWarningMsg:
      return LOG_WARNING;
    case QtCriticalMsg:
      return LOG_CRIT;
    case QtFatalMsg:
      return LOG_EMERG;
    default:
      return LOG_INFO;
    }
}

void
writeTraceLine (QtMsgType type, const QString &text)
{
  QMutexLocker locker (&traceMutex);
  if (traceFile->size () >= traceLogLimit)
    {
      traceFile->close ();
      traceFile->remove ();
    }
  if (!traceFile->isOpen () && !traceFile->open (QIODevice::Append | QIODevice::Text))
    return;
  QString line = QStringLiteral ("%1: %2: %3\n")
                     .arg (QLatin1String (levelName (type)),
                           QTime::currentTime ().toString (QStringLiteral ("HH:mm:ss.zzz")), text);
  traceFile->write (line.toUtf8 ());
  traceFile->flush ();
  traceFile->close ();
}

void
traceMessageHandler (QtMsgType type, const QMessageLogContext &, const QString &text)
{
  if (traceFile != nullptr)
    writeTraceLine (type, text);
  syslog (syslogPriority (type), "%s", qUtf8Printable (text));
}

void
glibLogToQt (const gchar *, GLogLevelFlags level, const gchar *text, gpointer)
{
  if (level == G_LOG_FLAG_FATAL || level == G_LOG_LEVEL_ERROR || level == G_LOG_LEVEL_CRITICAL)
    qCritical ("%s", text);
  else
    qDebug ("%s", text);
}

void
closeTraceFile ()
{
  qInstallMessageHandler (nullptr);
  QMutexLocker locker (&traceMutex);
  delete traceFile;
  traceFile = nullptr;
}

void
openTraceFile (const QString &path)
{
  if (traceFile != nullptr || path.isEmpty ())
    return;
  QFile *file = new QFile (path);
  if (!file->open (QIODevice::Append | QIODevice::Text))
    {
      delete file;
      qCritical ("BackupUi: Failed to initialize file tracing.");
      return;
    }
  file->close ();
  traceFile = file;
  std::atexit (closeTraceFile);
  qInstallMessageHandler (traceMessageHandler);
  g_log_set_handler (nullptr, (GLogLevelFlags)(G_LOG_LEVEL_MASK | G_LOG_FLAG_RECURSION),
                     glibLogToQt, nullptr);
}
} // namespace

int
initTracing ()
{
  QString logPath;
  if (QFile::exists (expandHome (traceConfigPath)))
    {
      traceLevel = 2;
      logPath = expandHome (traceLogPath);
    }
  else
    {
      bool valid = false;
      uint level = qEnvironmentVariable ("BACKUP_UI_LOG_LEVEL").toUInt (&valid, 10);
      if (valid)
        traceLevel = int (level);
    }
  /* The toolkit's traces follow the application's, into the same file. */
  QLoggingCategory::setFilterRules (traceLevel == 2
                                        ? QStringLiteral ("safehold.toolkit.debug=true")
                                        : QStringLiteral ("safehold.toolkit.debug=false"));
  openTraceFile (logPath);
  return traceLevel;
}
