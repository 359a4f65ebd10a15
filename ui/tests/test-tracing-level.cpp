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
  EXPECT_TRUE (messages.isEmpty ());

  qputenv ("BACKUP_UI_LOG_LEVEL", "3");
  EXPECT_EQ (initTracing (), 3);
  TRACE ("hidden at 3");
  EXPECT_TRUE (messages.isEmpty ()) << "only level 2 enables traces";

  qputenv ("BACKUP_UI_LOG_LEVEL", "2");
  EXPECT_EQ (initTracing (), 2);
  TRACE ("shown");
  ASSERT_EQ (messages.size (), 1);
  EXPECT_TRUE (messages[0].endsWith (" TestBody shown")) << qPrintable (messages[0]);
  EXPECT_FALSE (QFile::exists (QDir::homePath () + "/.safehold/trace.log"));
}
