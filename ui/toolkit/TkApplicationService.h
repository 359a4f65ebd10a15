#pragma once

#include <QObject>
#include <QString>

/* The single-instance service of the toolkit: owns a name on the session bus and answers
 * "launch" there. When the name is already taken, the running instance is asked to launch. */
class TkApplicationService : public QObject
{
  Q_OBJECT

public:
  explicit TkApplicationService (const QString &serviceName, QObject *parent = nullptr);

  QString serviceName () const
  {
    return serviceName_;
  }

  /* Takes the name. False when another instance holds it; that instance has then been asked to
   * launch. Without a session bus the program runs alone and true is returned. */
  bool registerService ();

  static const char *objectPath ();
  static const char *interfaceName ();

public Q_SLOTS:
  /* Called in the running instance when the program is started again: raises its windows. */
  virtual void launch ();

private:
  QString serviceName_;
};
