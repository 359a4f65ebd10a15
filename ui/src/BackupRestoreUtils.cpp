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
