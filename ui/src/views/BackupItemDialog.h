#pragma once

#include "TkSheet.h"

typedef struct _SfBackupInfo SfBackupInfo;

/* The sheet of one backup: what it is, and restore, delete or cancel. The confirmed choice is
 * emitted as onRestoreConfirmed() or onDeleteConfirmed(). */
class BackupItemDialog : public TkSheet
{
  Q_OBJECT

public:
  /* Keeps a reference on info while it lives. */
  BackupItemDialog (SfBackupInfo *info, QWidget *mainView);
  ~BackupItemDialog () override;

Q_SIGNALS:
  void onRestoreConfirmed ();
  void onDeleteConfirmed ();

public Q_SLOTS:
  void slotRestoreConfirmed ();
  void slotDeleteConfirmed ();
  void slotCancelButtonClicked ();

private Q_SLOTS:
  void slotRestoreButtonClicked ();
  void slotDeleteButtonClicked ();

private:
  SfBackupInfo *info_;
  QWidget *mainView_;
};
