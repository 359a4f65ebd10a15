#include "LumoSuiteWatcher.h"
#include "offscreen-application.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace
{
void
touch (const QString &name)
{
  QFile file (QDir::homePath () + QLatin1Char ('/') + name);
  ASSERT_TRUE (file.open (QIODevice::WriteOnly | QIODevice::Append));
  file.write ("x");
}
} // namespace

TEST (LumoSuiteWatcher, MarkerComingAndGoingIsSignalledOnce)
{
  ensureApplication ();
  LumoSuiteWatcher watcher;
  EXPECT_FALSE (watcher.isConnected ());
  watcher.startWatch ();
  QSignalSpy changed (&watcher, &LumoSuiteWatcher::lumoSuiteStateChanged);

  /* Changes in the home directory that are not the marker come first; had they been signalled,
   * the count below would show it. */
  touch (QStringLiteral ("notes.txt"));
  touch (QStringLiteral (".deskmate"));
  ASSERT_TRUE (changed.wait (5000));
  QCoreApplication::processEvents ();
  EXPECT_EQ (changed.count (), 1);
  EXPECT_TRUE (watcher.isConnected ());

  touch (QStringLiteral ("notes.txt"));
  ASSERT_TRUE (QFile::remove (QDir::homePath () + QStringLiteral ("/.deskmate")));
  ASSERT_TRUE (changed.wait (5000));
  QCoreApplication::processEvents ();
  EXPECT_EQ (changed.count (), 2);
  EXPECT_FALSE (watcher.isConnected ());
}
