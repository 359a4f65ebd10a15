#include "UsbModeWatcher.h"

#include "Tracing.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFileInfo>

namespace
{
const char *const service = "com.tessel.cablemon";
const char *const objectPath = "/com/tessel/cablemon";
const char *const interface = "com.tessel.cablemon";
const char *const stateSignal = "sig_usb_state_ind";
const char *const modeRequest = "mode_request";

const char *const chargingOnly = "charging_only";
const char *const massStorage = "mass_storage";
const char *const lumoSuite = "lumo_suite";
const char *const disconnected = "USB disconnected";
const char *const automationTestMarker = "/.safehold/isautotesting";
} // namespace

UsbModeWatcher *UsbModeWatcher::instance_ = nullptr;

UsbModeWatcher *
UsbModeWatcher::newUsbModeWatcher (QObject *parent)
{
  if (instance_ != nullptr)
    return instance_;
  auto *watcher = new UsbModeWatcher (parent);
  if (!watcher->valid_)
    {
      delete watcher;
      return nullptr;
    }
  instance_ = watcher;
  return watcher;
}

UsbModeWatcher::UsbModeWatcher (QObject *parent)
    : QObject (parent), valid_ (true), currentMode_ (QLatin1String (chargingOnly)),
      lastSignalledState_ (QLatin1String (disconnected))
{
  QString marker = QDir::homePath () + QLatin1String (automationTestMarker);
  automationTest_ = QFileInfo::exists (marker);
  if (automationTest_)
    {
      TRACE ("File " + marker + " exists.");
      TRACE ("**** IS DOING AUTOMATION TEST ****");
    }
  else
    TRACE ("Not on automation testing");

  QDBusConnection bus = QDBusConnection::systemBus ();
  if (!bus.isConnected ())
    {
      error (bus.lastError ());
      return;
    }
  bus.connect (QLatin1String (service), QLatin1String (objectPath), QLatin1String (interface),
               QLatin1String (stateSignal), this, SLOT (modeChanged (QString)));
}

UsbModeWatcher::~UsbModeWatcher ()
{
  TRACE ("~UsbModeWatcher");
  QDBusConnection::systemBus ().disconnect (QLatin1String (service), QLatin1String (objectPath),
                                            QLatin1String (interface), QLatin1String (stateSignal),
                                            this, SLOT (modeChanged (QString)));
  if (instance_ == this)
    instance_ = nullptr;
}

bool
UsbModeWatcher::isConnectedToPC ()
{
  updateUSBState ();
  if (currentMode_ == QLatin1String (massStorage))
    return true;
  if (automationTest_)
    return false;
  return currentMode_ == QLatin1String (lumoSuite);
}

bool
UsbModeWatcher::isUsbConnectedInMSMMode ()
{
  updateUSBState ();
  return currentMode_ == QLatin1String (massStorage);
}

void
UsbModeWatcher::modeChanged (const QString &mode)
{
  lastSignalledState_ = mode;
  TRACE ("******** Current USB connection status = " + mode);
  if (mode == QLatin1String (disconnected))
    {
      TRACE ("State is disconnected, unsetting dirty variable");
      currentMode_ = QLatin1String (chargingOnly);
      dirty_ = false;
    }
  else
    dirty_ = true;
  if (automationTest_ && currentMode_ == QLatin1String (lumoSuite))
    return;
  Q_EMIT usbStateChanged ();
}

void
UsbModeWatcher::error (const QDBusError &error)
{
  TRACE ("USB watcher error " + error.name () + ": " + error.message ());
  valid_ = false;
}

void
UsbModeWatcher::updateUSBState ()
{
  if (!dirty_)
    {
      TRACE ("No change since last call, current mode =" + currentMode_);
      return;
    }
  QDBusMessage request
      = QDBusMessage::createMethodCall (QLatin1String (service), QLatin1String (objectPath),
                                        QLatin1String (interface), QLatin1String (modeRequest));
  QDBusMessage reply = QDBusConnection::systemBus ().call (request, QDBus::Block);
  currentMode_ = QLatin1String (chargingOnly);
  if (reply.type () == QDBusMessage::ReplyMessage && !reply.arguments ().isEmpty ())
    {
      currentMode_ = reply.arguments ().constFirst ().toString ();
      TRACE ("Current Mode = " + currentMode_);
    }
  else
    TRACE ("Not able to retrieve USB State");
  dirty_ = false;
}
