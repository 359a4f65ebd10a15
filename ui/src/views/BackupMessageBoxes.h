#pragma once

#include "sf-restore-failure.h"

#include <QString>

class QDialog;
class QObject;
class QWidget;
class TkMessageBox;

/* The message boxes the main view opens. Each is created hidden (connect to it, then appear()),
 * deletes itself when closed, and, unless stated, is rejected when the main view emits
 * signalCloseAllSubWindows(). A box whose finished(int) is 1024 was accepted. */
class BackupMessageBoxes
{
public:
  /* Rejects dialog when mainView emits signalCloseAllSubWindows(). */
  static void closeWithSubWindows (QDialog *dialog, QObject *mainView);

  static TkMessageBox *cancelBackupQuery (QWidget *mainView);
  static TkMessageBox *lowBatteryBackupQuery (QWidget *mainView);
  static TkMessageBox *lowBatteryRestoreQuery (QWidget *mainView);
  /* Not closed by signalCloseAllSubWindows(): it is the only question of a finish-restore start. */
  static TkMessageBox *launchInstallationsQuery (QWidget *mainView);
  static TkMessageBox *cancelAndCloseQuery (QWidget *mainView);
  /* The text for an operation status code: memory full for a restore (above 200) or a backup
   * (102); for a failed backup (103) whose engine error code (SfError, -1 for none) says why, a
   * read-only memory or an archive larger than the memory holds; an interruption otherwise. */
  static TkMessageBox *operationInterruptedDialog (QWidget *mainView, const QString &title,
                                                   int statusCode, int errorCode = -1);
  /* The restore failed for some categories: names each with its reason. */
  static TkMessageBox *restoreFailedDialog (QWidget *mainView, SfRestoreFailure *failure);
  /* A plain message with one OK button. */
  static TkMessageBox *messageDialog (QWidget *mainView, const QString &title, const QString &text);
};
