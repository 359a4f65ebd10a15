#include "sf-vfs-utils.h"

#include "BackupRestoreUtils.h"

#include "BackupMainView.h"
#include "Tracing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QUrl>

#include <cmath>

namespace
{
/* A number with at most one decimal, in the locale's way: 0.1, 2, 2.5. */
QString
oneDecimal (double value)
{
  return QLocale ().toString (std::round (value * 10) / 10, 'f', QLocale::FloatingPointShortest);
}
} // namespace

BackupRestoreUtils::BackupRestoreUtils (SfTargetManager *manager, BackupMainView *mainView)
    : QObject (mainView), manager_ (manager)
{
  getTargets ();
}

QList<SfTarget *>
BackupRestoreUtils::getTargets ()
{
  targets_.clear ();
  for (GList *link = sf_target_manager_get_targets (manager_); link != NULL; link = link->next)
    targets_.append (SF_TARGET (link->data));
  return targets_;
}

void
BackupRestoreUtils::updateDisplayNames ()
{
  QByteArray mountPoint = qgetenv ("INTERNAL_MMC_MOUNTPOINT");
  if (mountPoint.isEmpty ())
    return;
  QByteArray internal = QUrl::fromLocalFile (QString::fromLocal8Bit (mountPoint)).toEncoded ();
  for (SfTarget *target : std::as_const (targets_))
    if (internal == sf_target_get_uri (target))
      sf_target_set_display_name (target,
                                  qtTrId ("qtn_back_internal_memory").toUtf8 ().constData ());
}

bool
BackupRestoreUtils::deleteFileRecursively (const QString &path)
{
  QFileInfo info (path);
  if (info.isDir () && !info.isSymLink ())
    {
      TRACE ("Removing directory " + path);
      return QDir (path).removeRecursively ();
    }
  TRACE ("Removing file " + path);
  return QFile::remove (path);
}

bool
BackupRestoreUtils::removeBackupFolder (SfTarget *target, const QString &name)
{
  g_return_val_if_fail (SF_IS_TARGET (target), false);
  QByteArray component = name.toUtf8 ();
  if (component.isEmpty () || component.contains ('/') || component == "." || component == "..")
    return false;
  g_autoptr (GFile) backups = g_file_new_for_uri (sf_target_get_backups_uri (target));
  g_autoptr (GFile) folder = g_file_get_child (backups, component.constData ());
  /* Only a folder known to be missing is gone: a memory that cannot be read (a card pulled out)
   * may still hold it. */
  g_autoptr (GError) queryError = NULL;
  g_autoptr (GFileInfo) info
      = g_file_query_info (folder, G_FILE_ATTRIBUTE_STANDARD_TYPE,
                           G_FILE_QUERY_INFO_NOFOLLOW_SYMLINKS, NULL, &queryError);
  if (g_error_matches (queryError, G_IO_ERROR, G_IO_ERROR_NOT_FOUND))
    return true;
  if (info == NULL)
    {
      TRACE (QString ("The backup folder cannot be read: ") + queryError->message);
      return false;
    }
  if (g_file_info_get_file_type (info) == G_FILE_TYPE_DIRECTORY)
    {
      g_autoptr (GError) error = sf_vfs_utils_remove_directory (folder);
      if (error != NULL)
        TRACE (QString ("Emptying the backup folder failed: ") + error->message);
    }
  g_autoptr (GError) error = NULL;
  if (g_file_delete (folder, NULL, &error))
    return true;
  TRACE (QString ("Removing the backup folder failed: ") + error->message);
  return false;
}

QString
BackupRestoreUtils::sizeToText (quint32 bytes)
{
  QLocale locale;
  if (bytes < 1024)
    return QStringLiteral ("%1kB").arg (locale.toString (1));
  if (bytes < 102400)
    return QStringLiteral ("%1kB").arg (locale.toString (bytes / 1024));
  if (bytes < 10485760)
    return QStringLiteral ("%1MB").arg (oneDecimal (bytes / 1048576.0));
  if (bytes < 1073741824)
    return QStringLiteral ("%1MB").arg (locale.toString (bytes / 1048576));
  return QStringLiteral ("%1GB").arg (oneDecimal (bytes / 1073741824.0));
}
