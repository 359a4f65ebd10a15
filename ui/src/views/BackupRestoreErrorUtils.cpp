#include "BackupRestoreErrorUtils.h"

#include "BackupMessageBoxes.h"
#include "FeedbackClientWrapper.h"
#include "TkMessageBox.h"
#include "Tracing.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QWidget>

#include <fcntl.h>
#include <sys/stat.h>

namespace
{
/* The separator the engine writes before every application name. */
const char *const separator = ",& ";
/* A log of a few failed applications is tiny; anything larger is read only this far. */
const qint64 maxErrorLogBytes = 64 * 1024;

/* The log's bytes, never through a symbolic link and never more than the limit. */
QByteArray
readErrorLog (const QString &path)
{
  int fd = ::open (QFile::encodeName (path).constData (), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0)
    return {};
  QFile file;
  struct stat status;
  if (fstat (fd, &status) != 0 || !S_ISREG (status.st_mode)
      || !file.open (fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
    {
      ::close (fd);
      return {};
    }
  return file.read (maxErrorLogBytes);
}
} // namespace

BackupRestoreErrorUtils::BackupRestoreErrorUtils (QWidget *mainView,
                                                  FeedbackClientWrapper *feedback)
    : QObject (mainView), mainView_ (mainView), feedback_ (feedback)
{
}

QString
BackupRestoreErrorUtils::errorLogPath ()
{
  return QDir::homePath () + QStringLiteral ("/.safehold/backup-restore-script-error-log");
}

QString
BackupRestoreErrorUtils::getErrorReportedAppNames ()
{
  QString path = errorLogPath ();
  QByteArray content = readErrorLog (path);
  QStringList names;
  /* Records are split before trimming: a record with an empty name leaves a bare separator, whose
   * trailing space trimming would take away. */
  for (const QString &line : QString::fromUtf8 (content).split (QLatin1Char ('\n')))
    {
      for (const QString &part : line.split (QLatin1String (separator)))
        {
          QString name = part.trimmed ();
          if (!name.isEmpty ())
            names.append (name);
        }
    }
  names.removeDuplicates ();
  removeErrorLog ();
  TRACE ("Applications reported failed: " + names.join (QLatin1String (", ")));
  return names.join (QLatin1Char ('\n'));
}

void
BackupRestoreErrorUtils::removeErrorLog ()
{
  QFile::remove (errorLogPath ());
}

TkMessageBox *
BackupRestoreErrorUtils::showErrorDialogIfNeeded (const QString &title, const QString &text)
{
  QString names = getErrorReportedAppNames ();
  if (names.isEmpty ())
    return nullptr;
  TkMessageBox *box = BackupMessageBoxes::messageDialog (mainView_, title, text.arg (names));
  if (feedback_ != nullptr)
    connect (box, &TkMessageBox::appeared, feedback_, &FeedbackClientWrapper::playWarningSnd);
  box->appear ();
  return box;
}

TkMessageBox *
BackupRestoreErrorUtils::showBackupErrorDialogIfNeeded ()
{
  return showErrorDialogIfNeeded (qtTrId ("qtn_back_backup_for_app_failed_tit"),
                                  qtTrId ("qtn_back_backup_for_app_failed"));
}

TkMessageBox *
BackupRestoreErrorUtils::showRestoreErrorDialogIfNeeded ()
{
  return showErrorDialogIfNeeded (qtTrId ("qtn_back_restore_for_app_failed_tit"),
                                  qtTrId ("qtn_back_restore_for_app_failed"));
}
