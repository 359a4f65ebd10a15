#pragma once

#include <QObject>
#include <QString>

class FeedbackClientWrapper;
class QWidget;
class TkMessageBox;

/* Reports the applications whose backup or restore steps failed, as the engine and the
 * notification of applications record them in the script error log. */
class BackupRestoreErrorUtils : public QObject
{
  Q_OBJECT

public:
  BackupRestoreErrorUtils (QWidget *mainView, FeedbackClientWrapper *feedback);

  /* "~/.safehold/backup-restore-script-error-log". */
  static QString errorLogPath ();
  /* The applications named in the error log, each once, one per line, in the order first named;
   * the log is removed. Empty when there is no readable log. */
  static QString getErrorReportedAppNames ();
  /* Removes the error log before an operation, so that it names that operation's failures only. */
  static void removeErrorLog ();

  /* When the error log names applications, opens a message box with title and text (its %1
   * replaced by the names) that plays the warning sound as it appears, and returns it; the box
   * belongs to the main view and deletes itself when closed. Null when nothing failed. */
  TkMessageBox *showErrorDialogIfNeeded (const QString &title, const QString &text);
  TkMessageBox *showBackupErrorDialogIfNeeded ();
  TkMessageBox *showRestoreErrorDialogIfNeeded ();

private:
  QWidget *mainView_;
  FeedbackClientWrapper *feedback_;
};
