#pragma once

#include <QObject>

class ContextProperty;

/* Follows the battery's charge and whether a charger is connected. */
class ContextMonitor : public QObject
{
  Q_OBJECT

public:
  explicit ContextMonitor (QObject *parent = nullptr);
  ~ContextMonitor () override;

  /* The charge in percent; the first call waits for the service. */
  int getBatteryPercentage ();
  /* Whether a charger is connected; the first call waits for the service. */
  bool isCharging ();

  /* Whether the battery allows a long operation: no monitor, a charger, or 20 percent or more. */
  static bool isBatterySufficient (ContextMonitor *monitor);

public Q_SLOTS:
  void onBatteryStateChanged ();
  void onChargingStateChanged ();

private:
  ContextProperty *chargeProperty_;
  ContextProperty *chargingProperty_;
  bool chargeKnown_ = false;
  bool chargingKnown_ = false;
  int charge_ = 0;
  bool charging_ = false;
};
