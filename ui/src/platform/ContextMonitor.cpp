#include "ContextMonitor.h"

#include "ContextProperty.h"
#include "Tracing.h"

namespace
{
/* The highest charge at which a long operation asks first. */
const int lowBatteryPercentage = 19;
} // namespace

ContextMonitor::ContextMonitor (QObject *parent)
    : QObject (parent),
      chargeProperty_ (new ContextProperty (QStringLiteral ("Battery.ChargePercentage"), this)),
      chargingProperty_ (new ContextProperty (QStringLiteral ("Battery.IsCharging"), this))
{
  connect (chargeProperty_, &ContextProperty::valueChanged, this,
           &ContextMonitor::onBatteryStateChanged, Qt::DirectConnection);
  connect (chargingProperty_, &ContextProperty::valueChanged, this,
           &ContextMonitor::onChargingStateChanged, Qt::DirectConnection);
  chargeProperty_->subscribe ();
  chargingProperty_->subscribe ();
}

ContextMonitor::~ContextMonitor ()
{
  chargeProperty_->unsubscribe ();
  chargingProperty_->unsubscribe ();
}

int
ContextMonitor::getBatteryPercentage ()
{
  if (!chargeKnown_)
    {
      chargeProperty_->waitForSubscription ();
      charge_ = chargeProperty_->value ().toInt ();
      chargeKnown_ = true;
    }
  TRACE ("Battery percentage = " + QString::number (charge_));
  return charge_;
}

bool
ContextMonitor::isCharging ()
{
  if (!chargingKnown_)
    {
      chargingProperty_->waitForSubscription ();
      charging_ = chargingProperty_->value ().toBool ();
      chargingKnown_ = true;
    }
  return charging_;
}

bool
ContextMonitor::isBatterySufficient (ContextMonitor *monitor)
{
  return monitor == nullptr || monitor->isCharging ()
         || monitor->getBatteryPercentage () > lowBatteryPercentage;
}

void
ContextMonitor::onBatteryStateChanged ()
{
  charge_ = chargeProperty_->value ().toInt ();
  chargeKnown_ = true;
  TRACE ("Battery charge percentate = " + QString::number (charge_));
}

void
ContextMonitor::onChargingStateChanged ()
{
  charging_ = chargingProperty_->value ().toBool ();
  chargingKnown_ = true;
  TRACE (QStringLiteral ("Charging state = ") + (charging_ ? "true" : "false"));
}
