#include "dbus-mock.h"

#include "ContextMonitor.h"
#include "offscreen-application.h"

#include <QTest>
#include <gtest/gtest.h>

#include <memory>

namespace
{
const guint32 batteryType = 2;
const guint32 charging = 1;
const guint32 discharging = 2;

void
setBattery (DBusMock &upower, double percentage, guint32 state)
{
  upower.call_mock ("SetupDisplayDevice",
                    g_variant_new ("(uuddddxxbsu)", batteryType, state, percentage, 10.0, 50.0, 1.0,
                                   (gint64)3600, (gint64)0, TRUE, "battery", (guint32)1));
}
} // namespace

TEST (ContextMonitor, NoBatteryServiceReadsAsEmptyAndNotCharging)
{
  ensureApplication ();
  ContextMonitor monitor;
  EXPECT_EQ (monitor.getBatteryPercentage (), 0);
  EXPECT_FALSE (monitor.isCharging ());
  EXPECT_FALSE (ContextMonitor::isBatterySufficient (&monitor));
  EXPECT_TRUE (ContextMonitor::isBatterySufficient (nullptr));
}

TEST (ContextMonitor, BatteryRuleFollowsUPower)
{
  ensureApplication ();
  std::unique_ptr<DBusMock> upower (DBusMock::from_template (
      G_BUS_TYPE_SYSTEM, "upower", "org.freedesktop.UPower", "/org/freedesktop/UPower"));

  setBattery (*upower, 19.0, discharging);
  {
    ContextMonitor monitor;
    EXPECT_EQ (monitor.getBatteryPercentage (), 19);
    EXPECT_FALSE (monitor.isCharging ());
    EXPECT_FALSE (ContextMonitor::isBatterySufficient (&monitor));
  }
  setBattery (*upower, 20.0, discharging);
  {
    ContextMonitor monitor;
    EXPECT_TRUE (ContextMonitor::isBatterySufficient (&monitor));
  }
  setBattery (*upower, 3.0, charging);
  ContextMonitor monitor;
  EXPECT_TRUE (monitor.isCharging ());
  EXPECT_TRUE (ContextMonitor::isBatterySufficient (&monitor));

  /* Later changes arrive without asking. */
  setBattery (*upower, 55.0, discharging);
  EXPECT_TRUE (QTest::qWaitFor ([&] () { return !monitor.isCharging (); }, 5000));
  EXPECT_TRUE (QTest::qWaitFor ([&] () { return monitor.getBatteryPercentage () == 55; }, 5000));
}
