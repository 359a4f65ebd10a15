#pragma once

#include "dbus-mock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <memory>

/* The built program run in the sandboxed home of tests/with-buses, as in the development
 * sandbox (the home stands in for the memory card), with the build tree's data, traces on, the
 * C locale only, and the platform's services mocked: USB mode, battery, device state (which
 * records reboot requests and sends the shutdown signal) and the notification server. */
class ProgramFixture : public testing::Test
{
protected:
  static constexpr int waitMs = 60000;

  void SetUp () override
  {
    home = QDir::homePath ();
    QDir ().mkpath (home + "/.safehold");
    QFile (home + "/.safehold/trace.conf").open (QIODevice::WriteOnly);
    ASSERT_TRUE (runtime.isValid ());
    usb = std::make_unique<DBusMock> (G_BUS_TYPE_SYSTEM, "com.tessel.cablemon",
                                      "/com/tessel/cablemon", "com.tessel.cablemon");
    usb->add_method ("mode_request", "", "s", "ret = 'charging_only'");
    vigil = std::make_unique<DBusMock> (G_BUS_TYPE_SYSTEM, "com.korvel.vigil",
                                        "/com/korvel/vigil/request", "com.korvel.vigil.request");
    vigil->add_method ("req_reboot", "", "", "");
    vigil->call_mock ("AddObject", g_variant_new_parsed (
                                       "('/com/korvel/vigil/signal', 'com.korvel.vigil.signal', "
                                       "@a{sv} {}, @a(ssss) [])"));
    upower.reset (DBusMock::from_template (G_BUS_TYPE_SYSTEM, "upower", "org.freedesktop.UPower",
                                           "/org/freedesktop/UPower"));
    upower->call_mock ("SetupDisplayDevice",
                       g_variant_new ("(uuddddxxbsu)", 2u, 2u, 80.0, 10.0, 50.0, 1.0, (gint64)3600,
                                      (gint64)0, TRUE, "battery", 1u));
    notifications = std::make_unique<DBusMock> (G_BUS_TYPE_SESSION, "org.freedesktop.Notifications",
                                                "/org/freedesktop/Notifications",
                                                "org.freedesktop.Notifications");
    notifications->add_method ("Notify", "susssasa{sv}i", "u", "ret = 1");
  }

  void TearDown () override
  {
    for (QProcess *process : processes)
      {
        if (process->state () != QProcess::NotRunning)
          {
            process->kill ();
            process->waitForFinished ();
          }
        delete process;
      }
    QDir (home + "/.safehold").removeRecursively ();
    QDir (home + "/MyDocs").removeRecursively ();
    QDir (home + "/.contacts").removeRecursively ();
    QDir (home + "/.config").removeRecursively ();
    QFile::remove (home + "/imported.vcf");
    QDir (home + "/imported").removeRecursively ();
  }

  QProcessEnvironment environment () const
  {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment ();
    for (const char *name : { "LANG", "LANGUAGE", "LC_ALL", "LC_MESSAGES" })
      env.remove (QLatin1String (name));
    env.insert ("LANG", "C");
    env.insert ("QT_QPA_PLATFORM", "offscreen");
    env.insert ("XDG_RUNTIME_DIR", runtime.path ());
    env.insert ("SAFEHOLD_DATA_DIR", SAFEHOLD_TEST_DATA_DIR);
    env.insert ("SBOX_UNAME_MACHINE", "x86_64");
    return env;
  }

  /* Starts the program, with extra set in its environment; it runs until the test ends it or
   * the fixture kills it. */
  QProcess *start (const QStringList &arguments = {}, const QProcessEnvironment &extra = {})
  {
    auto *process = new QProcess;
    QProcessEnvironment env = environment ();
    env.insert (extra);
    process->setProcessEnvironment (env);
    process->start (SAFEHOLD_PROGRAM, arguments);
    processes.push_back (process);
    return process;
  }

  /* Runs the program to its end; its exit code, -1 when it crashed or did not end. */
  int run (const QStringList &arguments, QByteArray *errors = nullptr)
  {
    QProcess *process = start (arguments);
    if (!process->waitForFinished (waitMs) || process->exitStatus () != QProcess::NormalExit)
      return -1;
    if (errors != nullptr)
      *errors = process->readAllStandardError ();
    return process->exitCode ();
  }

  QString trace () const
  {
    QFile file (home + "/.safehold/trace.log");
    return file.open (QIODevice::ReadOnly) ? QString::fromUtf8 (file.readAll ()) : QString ();
  }

  /* Waits until the trace holds text count times. */
  bool waitForTrace (const QString &text, int count = 1) const
  {
    for (int waited = 0; waited < waitMs; waited += 50)
      {
        if (trace ().count (text) >= count)
          return true;
        QThread::msleep (50);
      }
    return false;
  }

  /* The device's shutdown signal, which closes the program. */
  void sendShutdown ()
  {
    g_autoptr (GVariant) reply = g_dbus_connection_call_sync (
        vigil->connection (), "com.korvel.vigil", "/com/korvel/vigil/signal",
        "org.freedesktop.DBus.Mock", "EmitSignal",
        g_variant_new_parsed ("('com.korvel.vigil.signal', 'shutdown_ind', '', @av [])"), nullptr,
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    ASSERT_NE (reply, nullptr);
  }

  QString home;
  QTemporaryDir runtime;
  std::unique_ptr<DBusMock> usb;
  std::unique_ptr<DBusMock> vigil;
  std::unique_ptr<DBusMock> upower;
  std::unique_ptr<DBusMock> notifications;
  std::vector<QProcess *> processes;
};

inline void
writeFile (const QString &path, const QByteArray &content)
{
  QDir ().mkpath (QFileInfo (path).path ());
  QFile file (path);
  ASSERT_TRUE (file.open (QIODevice::WriteOnly | QIODevice::Truncate));
  file.write (content);
}

inline QByteArray
readFile (const QString &path)
{
  QFile file (path);
  return file.open (QIODevice::ReadOnly) ? file.readAll () : QByteArray ("<missing>");
}

/* The address book on the session bus, its methods still to be added. */
inline std::unique_ptr<DBusMock>
addressBookMock ()
{
  return std::make_unique<DBusMock> (G_BUS_TYPE_SESSION, "com.korvel.contacts",
                                     "/com/korvel/contacts", "com.korvel.backupclient");
}

/* Told the restore is done, the address book runs importCode (Python, with os, shutil and home
 * at hand). */
inline void
addressBookImports (DBusMock &mock, const std::string &importCode)
{
  mock.add_method ("restore", "assas", "",
                   "import os, shutil; home = os.environ['HOME']; " + importCode);
}
