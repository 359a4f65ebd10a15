#include "TkTracing.h"
#include "Tracing.h"

#include "sf-log.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <gtest/gtest.h>

namespace
{
QString
logPath ()
{
  return QDir::homePath () + "/.safehold/trace.log";
}

QStringList
logLines ()
{
  QFile file (logPath ());
  if (!file.open (QIODevice::ReadOnly | QIODevice::Text))
    return {};
  return QString::fromUtf8 (file.readAll ()).split ('\n', Qt::SkipEmptyParts);
}

void
fillLog (qint64 size)
{
  QFile file (logPath ());
  ASSERT_TRUE (file.open (QIODevice::WriteOnly | QIODevice::Truncate));
  file.write (QByteArray (size - 1, 'x') + '\n');
}
} // namespace

/* One process, one initTracing: the cases run in order on the same trace file. */
TEST (Tracing, ConfigurationFileRoutesEverythingIntoTheLog)
{
  ASSERT_TRUE (QDir::home ().mkpath (".safehold"));
  QFile config (QDir::homePath () + "/.safehold/trace.conf");
  ASSERT_TRUE (config.open (QIODevice::WriteOnly));
  config.close ();
  qputenv ("BACKUP_UI_LOG_LEVEL", "7");

  sf_log_start (2);
  EXPECT_EQ (initTracing (), 2);

  TRACE ("hello " + QString::number (42));
  g_warning ("glib warning");
  g_critical ("glib critical");
  SF_LOG_ERROR ("engine error");
  qWarning ("qt warning");

  QStringList lines = logLines ();
  ASSERT_EQ (lines.size (), 5) << qPrintable (lines.join ('\n'));
  QRegularExpression traceLine (
      R"(^Debug: \d\d:\d\d:\d\d\.\d\d\d: \.\./ui/tests/test-tracing\.cpp \d+ TestBody hello 42$)");
  EXPECT_TRUE (traceLine.match (lines[0]).hasMatch ()) << qPrintable (lines[0]);
  EXPECT_TRUE (lines[1].startsWith ("Debug: ") && lines[1].endsWith (": glib warning"));
  EXPECT_TRUE (lines[2].startsWith ("Critical: ") && lines[2].endsWith (": glib critical"));
  QRegularExpression engineLine (
      R"(^Critical: \S+: \.\./ui/tests/test-tracing\.cpp:\d+: engine error$)");
  EXPECT_TRUE (engineLine.match (lines[3]).hasMatch ()) << qPrintable (lines[3]);
  EXPECT_TRUE (lines[4].startsWith ("Warning: ") && lines[4].endsWith (": qt warning"));
}

TEST (Tracing, LogStartsOverAtTheLimit)
{
  fillLog (1024000 - 1);
  qWarning ("kept");
  EXPECT_EQ (logLines ().size (), 2) << "a log below the limit is appended to";

  fillLog (1024000);
  qWarning ("fresh");
  QStringList lines = logLines ();
  ASSERT_EQ (lines.size (), 1);
  EXPECT_TRUE (lines[0].startsWith ("Warning: ") && lines[0].endsWith (": fresh"));
}

TEST (Tracing, ToolkitTracesReachTheLog)
{
  fillLog (1);
  TK_TRACE ("toolkit " + QString::number (7));
  QStringList lines = logLines ();
  ASSERT_EQ (lines.size (), 1) << qPrintable (lines.join ('\n'));
  QRegularExpression traceLine (
      R"(^Debug: \d\d:\d\d:\d\d\.\d\d\d: \.\./ui/tests/test-tracing\.cpp \d+ TestBody toolkit 7$)");
  EXPECT_TRUE (traceLine.match (lines[0]).hasMatch ()) << qPrintable (lines[0]);
}
