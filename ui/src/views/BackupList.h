#pragma once

#include <QPointer>
#include <QWidget>

typedef struct _SfBackupInfo SfBackupInfo;

class QMenu;
class TkList;

/* The list of backups on the main view. Each backup is identified to the main view by its
 * SfBackupInfo pointer ("magic"); the main view keeps the references. */
class BackupList : public QWidget
{
  Q_OBJECT

public:
  explicit BackupList (QWidget *parent = nullptr);

  /* Shows backups in the given order; the list holds no reference of its own. */
  void setBackups (const QList<SfBackupInfo *> &backups);
  int count () const
  {
    return backups_.size ();
  }
  /* Shows progress in the cell of magic and hides every other bar; a negative value hides all. */
  void setItemProgress (void *magic, int progress);

Q_SIGNALS:
  void itemTapped (void *magic);
  void deleteRequested (void *magic);
  void restoreRequested (void *magic);

public Q_SLOTS:
  void slotCloseAllSubviewsSignalReceived ();

private Q_SLOTS:
  void slotItemClicked (int row);
  void slotItemLongTapped (int row, const QPoint &position);

private:
  TkList *list_;
  QList<SfBackupInfo *> backups_;
  QPointer<QMenu> menu_;
};
