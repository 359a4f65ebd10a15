#pragma once

#include <QDBusPendingCall>
#include <QObject>
#include <QVariant>

class QDBusPendingCallWatcher;

/* One property of the context property service: "Battery.ChargePercentage" (int, percent) or
 * "Battery.IsCharging" (bool, a charger is connected), served from UPower's display device on the
 * system bus. Subscribing looks the device up without blocking; waitForSubscription() blocks until
 * the first value is known. Without UPower the value stays invalid (0, false). */
class ContextProperty : public QObject
{
  Q_OBJECT

public:
  explicit ContextProperty (const QString &key, QObject *parent = nullptr);
  ~ContextProperty () override;

  QString key () const
  {
    return key_;
  }
  QVariant value () const
  {
    return value_;
  }

  void subscribe ();
  void unsubscribe ();
  void waitForSubscription ();

Q_SIGNALS:
  void valueChanged ();

private Q_SLOTS:
  void devicePropertiesChanged (const QString &interface, const QVariantMap &changed,
                                const QStringList &invalidated);

private:
  void finishSubscription ();
  void readDevice ();
  QVariant valueOf (const QVariantMap &properties) const;

  QString key_;
  QVariant value_;
  QString devicePath_;
  QDBusPendingCall lookup_;
  QDBusPendingCallWatcher *lookupWatcher_ = nullptr;
  bool subscribing_ = false;
};
