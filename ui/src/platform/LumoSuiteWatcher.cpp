#include "LumoSuiteWatcher.h"

#include "Tracing.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>

LumoSuiteWatcher::LumoSuiteWatcher (QObject *parent)
    : QObject (parent), markerPath_ (QDir::homePath () + QStringLiteral ("/.deskmate")),
      connected_ (isConnected ())
{
}

void
LumoSuiteWatcher::startWatch ()
{
  if (watcher_ != nullptr)
    return;
  watcher_ = new QFileSystemWatcher (this);
  watcher_->addPath (markerPath_.left (markerPath_.lastIndexOf (QLatin1Char ('/'))));
  connect (watcher_, &QFileSystemWatcher::directoryChanged, this,
           &LumoSuiteWatcher::directoryChanged, Qt::QueuedConnection);
  TRACE ("Starting the watch for Lumo Suite connections");
}

bool
LumoSuiteWatcher::isConnected () const
{
  return QFileInfo::exists (markerPath_);
}

void
LumoSuiteWatcher::directoryChanged (const QString &)
{
  bool connected = isConnected ();
  if (connected == connected_)
    return;
  connected_ = connected;
  TRACE ("Emiting lumosuite event");
  Q_EMIT lumoSuiteStateChanged ();
}
