#include "DBusRequestProcessor.h"

#include "BackupMainView.h"
#include "Tracing.h"

#include <QDBusConnection>

DBusRequestProcessor::DBusRequestProcessor (BackupMainView *mainView)
    : QDBusAbstractAdaptor (mainView), mainView_ (mainView)
{
  if (QDBusConnection::sessionBus ().registerObject (QStringLiteral ("/com/korvel/backup/app"),
                                                     mainView, QDBusConnection::ExportAdaptors))
    TRACE ("DBus listener interface registered");
  else
    TRACE ("****** Not able to register dbus listener *****");
  connect (this, &DBusRequestProcessor::launchNewBackupDialog, mainView,
           &BackupMainView::slotDBusOpenNewBackupDialog);
}

uchar
DBusRequestProcessor::launch (const QString &cmd)
{
  TRACE ("dbus launch method is called, command = " + cmd);
  if (cmd == QLatin1String ("opennewbackup"))
    return launchToNewbackupView ();
  return launchMainView ();
}

bool
DBusRequestProcessor::bringUp ()
{
  if (mainView_.isNull () || mainView_->isFinishingRestore ()
      || mainView_->isLumoRequestsRunning ())
    return false;
  /* An operation the user started here is not one made for a software update: marking the view
   * would end it on the update's finish page and close the program. */
  if (!mainView_->isBusy ())
    mainView_->setLaunchedFromDBus (true);
  mainView_->show ();
  mainView_->raise ();
  mainView_->activateWindow ();
  return true;
}

uchar
DBusRequestProcessor::launchMainView ()
{
  TRACE ("launchMainView()");
  return bringUp () ? 0 : 1;
}

uchar
DBusRequestProcessor::launchToNewbackupView ()
{
  TRACE ("launchToNewbackupView()");
  if (!mainView_.isNull () && mainView_->isBusy ())
    {
      TRACE ("A backup or restore runs, no new backup now");
      return 1;
    }
  if (!bringUp ())
    return 1;
  Q_EMIT launchNewBackupDialog ();
  return 0;
}
