#include "ContextProperty.h"

#include "Tracing.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusObjectPath>

namespace
{
const char *const upowerService = "org.freedesktop.UPower";
const char *const upowerPath = "/org/freedesktop/UPower";
const char *const upowerInterface = "org.freedesktop.UPower";
const char *const deviceInterface = "org.freedesktop.UPower.Device";
const char *const propertiesInterface = "org.freedesktop.DBus.Properties";

const char *const chargeKey = "Battery.ChargePercentage";

/* UPower device states with a charger connected: charging, fully charged, pending charge. */
const uint stateCharging = 1;
const uint stateFullyCharged = 4;
const uint statePendingCharge = 5;
} // namespace

ContextProperty::ContextProperty (const QString &key, QObject *parent)
    : QObject (parent), key_ (key), lookup_ (QDBusPendingCall::fromCompletedCall (QDBusMessage ()))
{
}

ContextProperty::~ContextProperty ()
{
  unsubscribe ();
}

void
ContextProperty::subscribe ()
{
  if (subscribing_)
    return;
  subscribing_ = true;
  QDBusMessage call = QDBusMessage::createMethodCall (
      QLatin1String (upowerService), QLatin1String (upowerPath), QLatin1String (upowerInterface),
      QStringLiteral ("GetDisplayDevice"));
  lookup_ = QDBusConnection::systemBus ().asyncCall (call);
  lookupWatcher_ = new QDBusPendingCallWatcher (lookup_, this);
  connect (lookupWatcher_, &QDBusPendingCallWatcher::finished, this,
           &ContextProperty::finishSubscription);
}

void
ContextProperty::unsubscribe ()
{
  if (!subscribing_)
    return;
  subscribing_ = false;
  delete lookupWatcher_;
  lookupWatcher_ = nullptr;
  if (!devicePath_.isEmpty ())
    QDBusConnection::systemBus ().disconnect (
        QLatin1String (upowerService), devicePath_, QLatin1String (propertiesInterface),
        QStringLiteral ("PropertiesChanged"), this,
        SLOT (devicePropertiesChanged (QString, QVariantMap, QStringList)));
  devicePath_.clear ();
}

void
ContextProperty::waitForSubscription ()
{
  if (lookupWatcher_ == nullptr)
    return;
  lookup_.waitForFinished ();
  finishSubscription ();
}

void
ContextProperty::finishSubscription ()
{
  if (lookupWatcher_ == nullptr)
    return;
  lookupWatcher_->deleteLater ();
  lookupWatcher_ = nullptr;
  QDBusPendingReply<QDBusObjectPath> reply = lookup_;
  if (reply.isError ())
    {
      TRACE ("No battery information: " + reply.error ().message ());
      return;
    }
  devicePath_ = reply.value ().path ();
  QDBusConnection::systemBus ().connect (
      QLatin1String (upowerService), devicePath_, QLatin1String (propertiesInterface),
      QStringLiteral ("PropertiesChanged"), this,
      SLOT (devicePropertiesChanged (QString, QVariantMap, QStringList)));
  readDevice ();
}

void
ContextProperty::readDevice ()
{
  QDBusMessage call = QDBusMessage::createMethodCall (QLatin1String (upowerService), devicePath_,
                                                      QLatin1String (propertiesInterface),
                                                      QStringLiteral ("GetAll"));
  call << QLatin1String (deviceInterface);
  QDBusReply<QVariantMap> reply = QDBusConnection::systemBus ().call (call);
  if (!reply.isValid ())
    {
      TRACE ("Battery device unreadable: " + reply.error ().message ());
      return;
    }
  QVariant value = valueOf (reply.value ());
  if (value != value_)
    {
      value_ = value;
      Q_EMIT valueChanged ();
    }
}

void
ContextProperty::devicePropertiesChanged (const QString &interface, const QVariantMap &,
                                          const QStringList &)
{
  if (interface == QLatin1String (deviceInterface))
    readDevice ();
}

QVariant
ContextProperty::valueOf (const QVariantMap &properties) const
{
  if (key_ == QLatin1String (chargeKey))
    return int (qRound (properties.value (QStringLiteral ("Percentage")).toDouble ()));
  uint state = properties.value (QStringLiteral ("State")).toUInt ();
  return state == stateCharging || state == stateFullyCharged || state == statePendingCharge;
}
