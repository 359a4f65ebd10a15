#pragma once

#include "sf-target-manager.h"

#include <QList>
#include <QObject>
#include <QString>

class BackupMainView;

/* What the main view needs around the target manager: the targets it currently has, their
 * display names, file removal and how sizes are written for people. Main thread only. */
class BackupRestoreUtils : public QObject
{
  Q_OBJECT

public:
  BackupRestoreUtils (SfTargetManager *manager, BackupMainView *mainView);

  /* Reads the manager's targets again and returns them; the targets are borrowed from the
   * manager. */
  QList<SfTarget *> getTargets ();
  /* The targets read by the last getTargets(). */
  QList<SfTarget *> targets () const
  {
    return targets_;
  }
  /* Names the internal memory in the user's language. */
  void updateDisplayNames ();
  /* Removes path, and everything below it when it is a folder; a symbolic link is removed, never
   * followed. False when something stayed. */
  static bool deleteFileRecursively (const QString &path);
  /* Removes the folder name (one path component) below target's backups folder, and nothing
   * anywhere else; links are removed, never followed. True when nothing of it is left. */
  static bool removeBackupFolder (SfTarget *target, const QString &name);
  /* "1kB", "0.1MB", "2.5GB": the size with at most one decimal, in the locale's digits. */
  static QString sizeToText (quint32 bytes);

private:
  SfTargetManager *manager_;
  QList<SfTarget *> targets_;
};
