#include "TkTracing.h"
#include "Tracing.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <gtest/gtest.h>

namespace
{
QStringList messages;

void
collect (QtMsgType, const QMessageLogContext &, const QString &text)
{
  messages << text;
}
} // namespace

TEST (TracingLevel, EnvironmentWithoutConfigurationFile)
{
  qInstallMessageHandler (collect);

  qputenv ("BACKUP_UI_LOG_LEVEL", "two");
  EXPECT_EQ (initTracing (), 1);
  TRACE ("hidden");
  TK_TRACE ("hidden in the toolkit");
  EXPECT_TRUE (messages.isEmpty ());

  qputenv ("BACKUP_UI_LOG_LEVEL", "3");
  EXPECT_EQ (initTracing (), 3);
  TRACE ("hidden at 3");
  TK_TRACE ("hidden in the toolkit at 3");
  EXPECT_TRUE (messages.isEmpty ()) << "only level 2 enables traces";

  qputenv ("BACKUP_UI_LOG_LEVEL", "2");
  EXPECT_EQ (initTracing (), 2);
  TRACE ("shown");
  TK_TRACE ("shown in the toolkit");
  ASSERT_EQ (messages.size (), 2);
  EXPECT_TRUE (messages[0].endsWith (" TestBody shown")) << qPrintable (messages[0]);
  EXPECT_TRUE (messages[1].endsWith (" TestBody shown in the toolkit")) << qPrintable (messages[1]);
  EXPECT_FALSE (QFile::exists (QDir::homePath () + "/.safehold/trace.log"));
}
