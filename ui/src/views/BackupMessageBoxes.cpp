#include "sf-error.h"

#include "BackupMessageBoxes.h"

#include "TkMessageBox.h"

namespace
{
const int backupNoSpaceStatus = 102;
const int backupFailedStatus = 103;
const int restoreStatusBase = 200;

TkMessageBox *
makeBox (QWidget *mainView, const QString &title, const QString &text,
         QDialogButtonBox::StandardButtons buttons, bool closedWithSubWindows = true)
{
  auto *box = new TkMessageBox (title, text, buttons, mainView);
  box->setAttribute (Qt::WA_DeleteOnClose);
  if (closedWithSubWindows)
    BackupMessageBoxes::closeWithSubWindows (box, mainView);
  return box;
}

/* Ok and Cancel keep the codes callers check; every query answers Yes or No. */
TkMessageBox *
makeQuery (QWidget *mainView, const char *titleId, const char *textId,
           bool closedWithSubWindows = true)
{
  TkMessageBox *query
      = makeBox (mainView, titleId != nullptr ? qtTrId (titleId) : QString (), qtTrId (textId),
                 QDialogButtonBox::Ok | QDialogButtonBox::Cancel, closedWithSubWindows);
  query->button (QDialogButtonBox::Ok)->setText (qtTrId ("qtn_comm_yes"));
  query->button (QDialogButtonBox::Cancel)->setText (qtTrId ("qtn_comm_no"));
  return query;
}
} // namespace

void
BackupMessageBoxes::closeWithSubWindows (QDialog *dialog, QObject *mainView)
{
  if (mainView != nullptr
      && mainView->metaObject ()->indexOfSignal ("signalCloseAllSubWindows()") >= 0)
    QObject::connect (mainView, SIGNAL (signalCloseAllSubWindows ()), dialog, SLOT (reject ()));
}

TkMessageBox *
BackupMessageBoxes::cancelBackupQuery (QWidget *mainView)
{
  /* Its buttons say what they do: a bare Cancel would mean going on. */
  TkMessageBox *query = makeQuery (mainView, nullptr, "qtn_back_cancel_backup");
  query->button (QDialogButtonBox::Ok)->setText (qtTrId ("qtn_back_stop_backup"));
  query->button (QDialogButtonBox::Cancel)->setText (qtTrId ("qtn_back_continue_backup"));
  return query;
}

TkMessageBox *
BackupMessageBoxes::lowBatteryBackupQuery (QWidget *mainView)
{
  return makeQuery (mainView, "qtn_back_lowbatt_tit", "qtn_back_backupwithlowbattery");
}

TkMessageBox *
BackupMessageBoxes::lowBatteryRestoreQuery (QWidget *mainView)
{
  return makeQuery (mainView, "qtn_back_lowbatt_tit", "qtn_back_restorewithlowbattery");
}

TkMessageBox *
BackupMessageBoxes::launchInstallationsQuery (QWidget *mainView)
{
  return makeQuery (mainView, "qtn_back_launch_installations_tit", "qtn_back_launch_installations",
                    false);
}

TkMessageBox *
BackupMessageBoxes::cancelAndCloseQuery (QWidget *mainView)
{
  return makeQuery (mainView, "qtn_back_cancelbu_tit", "qtn_back_cancel_and_close");
}

TkMessageBox *
BackupMessageBoxes::operationInterruptedDialog (QWidget *mainView, const QString &title,
                                                int statusCode, int errorCode)
{
  const char *textId = "qtn_back_backupinterrupted";
  if (statusCode > restoreStatusBase)
    textId = "qtn_back_devicememfullrestore";
  else if (statusCode == backupNoSpaceStatus)
    textId = "qtn_back_devicememfullbackup";
  else if (statusCode == backupFailedStatus && errorCode == SF_ERROR_BACKUP_READ_ONLY)
    textId = "qtn_back_memory_read_only";
  else if (statusCode == backupFailedStatus && errorCode == SF_ERROR_BACKUP_FILE_TOO_LARGE)
    textId = "qtn_back_file_too_large";
  return makeBox (mainView, title, qtTrId (textId), QDialogButtonBox::Ok);
}

TkMessageBox *
BackupMessageBoxes::restoreFailedDialog (QWidget *mainView, SfRestoreFailure *failure)
{
  QStringList lines;
  for (int index = 0; index < SF_CATEGORY_COUNT; index++)
    {
      SfCategory category = sf_category_from_index (index);
      if (sf_restore_failure_has_category (failure, category))
        lines << QString::fromUtf8 (sf_category_get_display_name (category)) + QStringLiteral (": ")
                     + QString::fromUtf8 (sf_restore_failure_reason_get_message (
                         sf_restore_failure_get_category_reason (failure, category)));
    }
  return makeBox (mainView, qtTrId ("qtn_back_restorefail_tit"),
                  qtTrId ("qtn_back_restore_items_failed").arg (lines.join ('\n')),
                  QDialogButtonBox::Ok);
}

TkMessageBox *
BackupMessageBoxes::messageDialog (QWidget *mainView, const QString &title, const QString &text)
{
  return makeBox (mainView, title, text, QDialogButtonBox::Ok);
}
