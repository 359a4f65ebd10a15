#include "dbus-mock.h"

#include "UsbModeWatcher.h"
#include "offscreen-application.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace
{
class UsbModeWatcherTest : public ::testing::Test
{
protected:
  void SetUp () override
  {
    ensureApplication ();
    daemon_ = std::make_unique<DBusMock> (G_BUS_TYPE_SYSTEM, "com.tessel.cablemon",
                                          "/com/tessel/cablemon", "com.tessel.cablemon");
  }

  void reportMode (const char *mode)
  {
    daemon_->add_method ("mode_request", "", "s", std::string ("ret = '") + mode + "'");
  }

  size_t queries ()
  {
    size_t count = 0;
    for (const DBusMock::Call &call : daemon_->calls ())
      count += call.method == "mode_request";
    return count;
  }

  /* Sends the daemon's state signal and waits until the watcher has seen it. */
  void signalState (UsbModeWatcher *watcher, const char *state)
  {
    daemon_->emit_signal ("sig_usb_state_ind", "s", g_variant_new ("(s)", state));
    ASSERT_TRUE (QTest::qWaitFor (
        [&] () { return watcher->lastSignalledState () == QLatin1String (state); }, 5000));
  }

  std::unique_ptr<DBusMock> daemon_;
};
} // namespace

TEST_F (UsbModeWatcherTest, AsksTheDaemonOncePerStateChange)
{
  reportMode ("mass_storage");
  UsbModeWatcher *watcher = UsbModeWatcher::newUsbModeWatcher (nullptr);
  ASSERT_NE (watcher, nullptr);
  EXPECT_EQ (UsbModeWatcher::newUsbModeWatcher (nullptr), watcher);
  QSignalSpy changed (watcher, &UsbModeWatcher::usbStateChanged);

  EXPECT_TRUE (watcher->isConnectedToPC ());
  EXPECT_TRUE (watcher->isConnectedToPC ());
  EXPECT_TRUE (watcher->isUsbConnectedInMSMMode ());
  EXPECT_EQ (queries (), 1u);

  /* The watcher starts out disconnected, so the signal itself is awaited. */
  daemon_->emit_signal ("sig_usb_state_ind", "s", g_variant_new ("(s)", "USB disconnected"));
  ASSERT_TRUE (changed.wait (5000));
  EXPECT_EQ (changed.count (), 1);
  EXPECT_FALSE (watcher->isConnectedToPC ());
  EXPECT_EQ (queries (), 1u);

  reportMode ("lumo_suite");
  signalState (watcher, "USB connected");
  EXPECT_EQ (changed.count (), 2);
  EXPECT_TRUE (watcher->isConnectedToPC ());
  EXPECT_FALSE (watcher->isUsbConnectedInMSMMode ());
  EXPECT_EQ (queries (), 2u);

  /* A daemon that answers with an error leaves the phone merely charging. */
  daemon_->add_method ("mode_request", "", "s",
                       "raise dbus.exceptions.DBusException('busy', name='com.tessel.Error')");
  signalState (watcher, "USB connected, broken");
  EXPECT_FALSE (watcher->isConnectedToPC ());
  delete watcher;
}

TEST_F (UsbModeWatcherTest, AutomationTestsIgnoreThePcSuiteButNotMassStorage)
{
  ASSERT_TRUE (QDir::home ().mkpath (QStringLiteral (".safehold")));
  QFile marker (QDir::homePath () + QStringLiteral ("/.safehold/isautotesting"));
  ASSERT_TRUE (marker.open (QIODevice::WriteOnly));
  marker.close ();

  reportMode ("lumo_suite");
  UsbModeWatcher *watcher = UsbModeWatcher::newUsbModeWatcher (nullptr);
  ASSERT_NE (watcher, nullptr);
  QSignalSpy changed (watcher, &UsbModeWatcher::usbStateChanged);
  EXPECT_FALSE (watcher->isConnectedToPC ());

  signalState (watcher, "USB connected");
  EXPECT_EQ (changed.count (), 0);

  reportMode ("mass_storage");
  EXPECT_TRUE (watcher->isConnectedToPC ());
  signalState (watcher, "USB connected again");
  EXPECT_EQ (changed.count (), 1);

  delete watcher;
  ASSERT_TRUE (marker.remove ());
}
