#pragma once

#include <QObject>
#include <QString>

class QFileSystemWatcher;

/* Follows the marker "~/.deskmate" that the PC suite's connection keeps in the home directory. */
class LumoSuiteWatcher : public QObject
{
  Q_OBJECT

public:
  explicit LumoSuiteWatcher (QObject *parent = nullptr);

  void startWatch ();
  /* Whether the marker exists now. */
  bool isConnected () const;

Q_SIGNALS:
  void lumoSuiteStateChanged ();

public Q_SLOTS:
  void directoryChanged (const QString &path);

private:
  QString markerPath_;
  QFileSystemWatcher *watcher_ = nullptr;
  bool connected_;
};
