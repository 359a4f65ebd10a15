#include "TkApplicationService.h"

#include "TkTracing.h"

#include <QApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QWidget>

namespace
{
const int launchTimeoutMs = 5000;
}

/* Publishes TkApplicationService::launch on the session bus. */
class TkApplicationServiceAdaptor : public QDBusAbstractAdaptor
{
  Q_OBJECT
  Q_CLASSINFO ("D-Bus Interface", "org.safehold.Toolkit.Application")

public:
  explicit TkApplicationServiceAdaptor (TkApplicationService *service)
      : QDBusAbstractAdaptor (service), service_ (service)
  {
  }

public Q_SLOTS:
  void launch ()
  {
    service_->launch ();
  }

private:
  TkApplicationService *service_;
};

TkApplicationService::TkApplicationService (const QString &serviceName, QObject *parent)
    : QObject (parent), serviceName_ (serviceName)
{
  new TkApplicationServiceAdaptor (this);
}

const char *
TkApplicationService::objectPath ()
{
  return "/org/safehold/Toolkit/Application";
}

const char *
TkApplicationService::interfaceName ()
{
  return "org.safehold.Toolkit.Application";
}

bool
TkApplicationService::registerService ()
{
  QDBusConnection bus = QDBusConnection::sessionBus ();
  if (!bus.isConnected ())
    {
      TK_TRACE ("No session bus, running without the single-instance service");
      return true;
    }
  QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply
      = bus.interface ()->registerService (serviceName_, QDBusConnectionInterface::DontQueueService,
                                           QDBusConnectionInterface::DontAllowReplacement);
  if (reply.isValid () && reply.value () == QDBusConnectionInterface::ServiceRegistered)
    {
      if (!bus.registerObject (QLatin1String (objectPath ()), this,
                               QDBusConnection::ExportAdaptors))
        TK_TRACE ("Could not register the application service object");
      return true;
    }
  TK_TRACE (serviceName_ + " is taken, asking the running instance to launch");
  QDBusMessage call = QDBusMessage::createMethodCall (serviceName_, QLatin1String (objectPath ()),
                                                      QLatin1String (interfaceName ()),
                                                      QStringLiteral ("launch"));
  QDBusMessage answer = bus.call (call, QDBus::Block, launchTimeoutMs);
  if (answer.type () == QDBusMessage::ErrorMessage)
    TK_TRACE ("The running instance did not answer: " + answer.errorMessage ());
  return false;
}

void
TkApplicationService::launch ()
{
  TK_TRACE ("Raising the application window");
  for (QWidget *widget : QApplication::topLevelWidgets ())
    {
      if (widget->inherits ("TkApplicationWindow"))
        {
          widget->show ();
          widget->raise ();
          widget->activateWindow ();
        }
    }
}

#include "TkApplicationService.moc"
