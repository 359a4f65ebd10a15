#pragma once

#include <QDBusAbstractAdaptor>
#include <QPointer>
#include <QString>

class BackupMainView;

/* "com.korvel.backup" at "/com/korvel/backup/app": other programs bring up the main window, or
 * the new-backup sheet, through "launch". Owned by the main view, its Qt parent. GUI thread. */
class DBusRequestProcessor : public QDBusAbstractAdaptor
{
  Q_OBJECT
  Q_CLASSINFO ("D-Bus Interface", "com.korvel.backup")

public:
  /* Registers mainView on the session bus and connects the sheet request to it. */
  explicit DBusRequestProcessor (BackupMainView *mainView);

public Q_SLOTS:
  /* 0 once the window is up, 1 when refused. "opennewbackup" also opens the new-backup sheet,
   * and is refused while an operation runs. A refused launch changes nothing. */
  uchar launch (const QString &cmd);

Q_SIGNALS:
  void launchNewBackupDialog ();

private:
  uchar launchMainView ();
  uchar launchToNewbackupView ();
  bool bringUp ();

  QPointer<BackupMainView> mainView_;
};
