#include "main-view-fixture.h"

#include "BackupIfAdaptor.h"
#include "BackupService.h"

#include <QDBusConnection>
#include <QProcess>

namespace
{
/* gdbus, a client written elsewhere, making one call over a connection of its own; its printed
 * answer. */
QString
gdbus (const QStringList &call)
{
  QProcess gdbus;
  gdbus.start ("gdbus", QStringList{ "call", "--session", "--dest", "com.korvel.backup.plugin",
                                     "--object-path", "/com/korvel/backup", "--method" }
                            + call);
  if (!QTest::qWaitFor ([&] { return gdbus.state () == QProcess::NotRunning; }, 60000))
    return "gdbus did not end";
  return QString::fromUtf8 (gdbus.readAllStandardOutput ()).trimmed ();
}

QString
request (const QString &operation, const QString &command)
{
  return gdbus ({ "com.korvel.backup.plugin.request", "--", operation, command, "0" });
}
/* Counts the close requests a widget receives. */
class CloseCounter : public QObject
{
public:
  int closes = 0;

protected:
  bool eventFilter (QObject *, QEvent *event) override
  {
    closes += event->type () == QEvent::Close;
    return false;
  }
};
} // namespace

/* The window's main view with the suite's service on the private session bus. */
class SuiteMainView : public MainViewFixture
{
protected:
  void serve ()
  {
    service = std::make_unique<BackupService> (view);
    new BackupIfAdaptor (service.get ());
    QDBusConnection bus = QDBusConnection::sessionBus ();
    ASSERT_TRUE (bus.registerService ("com.korvel.backup.plugin"));
    ASSERT_TRUE (
        bus.registerObject ("/com/korvel/backup", service.get (), QDBusConnection::ExportAdaptors));
  }

  void TearDown () override
  {
    QDBusConnection bus = QDBusConnection::sessionBus ();
    bus.unregisterObject ("/com/korvel/backup");
    bus.unregisterService ("com.korvel.backup.plugin");
    service.reset ();
    MainViewFixture::TearDown ();
  }

  std::unique_ptr<BackupService> service;
};

TEST_F (SuiteMainView, SuiteNeitherStopsNorCancelsNorRebootsDuringTheUsersBackup)
{
  /* The contacts application answers after three seconds: the user's backup runs meanwhile. */
  DBusMock exporter (G_BUS_TYPE_SESSION, "com.test.exporter", "/exporter",
                     "com.korvel.backupclient");
  exporter.add_method ("backup", "as", "y", "time.sleep(3)\nret = dbus.Byte(0)");
  configure ("com.test.exporter");
  writeFile (home + "/export/card.vcf", "card");
  writeFile (home + "/settings.db", "settings");
  openView ();
  serve ();

  startFromSheet ("mine");
  ASSERT_TRUE (QTest::qWaitFor ([this] { return view->backupIsRunning (); }));
  EXPECT_EQ (request ("open", "200"), "(2, '')");
  EXPECT_EQ (request ("open", "1"), "(2, '')");
  EXPECT_EQ (request ("open", "201"), "(2, '')");
  EXPECT_EQ (request ("close", "101"), "(2, '')");
  gdbus ({ "com.korvel.backup.plugin.cancel" });
  EXPECT_FALSE (view->isLumoRequestsRunning ()) << "launch requests are not refused";
  EXPECT_EQ (finishBackup (), 100);
  EXPECT_TRUE (view->isVisible ());
  EXPECT_EQ (listedNames (), QStringList{ "Backup0" });

  // An exchange that restores nothing ends the program and reboots nothing.
  CloseCounter counter;
  view->installEventFilter (&counter);
  EXPECT_EQ (request ("open", "200"), "(0, '" + home + "/MyDocs/.tmp')");
  EXPECT_EQ (request ("open", "201"), "(0, '" + home + "/MyDocs/.tmp')");
  ASSERT_TRUE (QTest::qWaitFor ([&] { return counter.closes > 0; }, waitMs));
  EXPECT_TRUE (vigil->calls ().empty ());
}
