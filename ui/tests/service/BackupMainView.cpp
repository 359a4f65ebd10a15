#include "BackupMainView.h"

#include "LumoSuiteTransfer.h"

#include <QDir>
#include <QFile>
#include <QTimer>

namespace
{
void
writeFile (const QString &path, const QByteArray &content)
{
  QFile file (path);
  if (file.open (QIODevice::WriteOnly | QIODevice::Truncate))
    file.write (content);
}
} // namespace

void
BackupMainView::finishOnItsOwn ()
{
  if (outcomes.isEmpty ())
    return;
  int status = outcomes.takeFirst ();
  QTimer::singleShot (0, this,
                      [this, status] { Q_EMIT signalLumoSuiteOperationFinished (status); });
}

void
BackupMainView::startLumoSuiteBackup (SfCategory categories)
{
  backups.append (categories);
  QDir ().mkpath (backupDirectory);
  writeFile (getLumoSuiteFilePath (0), "metadata");
  for (int bit = 1; bit <= SF_CATEGORY_APPLICATIONS; bit <<= 1)
    if (categories & bit)
      writeFile (getLumoSuiteFilePath (bit), "archive " + QByteArray::number (bit));
  finishOnItsOwn ();
}

void
BackupMainView::startLumoSuiteRestore (SfCategory categories)
{
  restores.append (categories);
  QMap<QString, QByteArray> files;
  QDir directory (backupDirectory);
  for (const QString &name : directory.entryList (QDir::Files))
    {
      QFile file (directory.filePath (name));
      file.open (QIODevice::ReadOnly);
      files.insert (name, file.readAll ());
    }
  restoredFiles.append (files);
  finishOnItsOwn ();
}

QMap<int, QString>
BackupMainView::getLumoSuiteFileList ()
{
  QMap<int, QString> files;
  for (int id = 0; id <= SF_CATEGORY_APPLICATIONS; id = id ? id << 1 : 1)
    if (QFile::exists (getLumoSuiteFilePath (id)))
      files.insert (id, getLumoSuiteFilePath (id));
  return files;
}

QString
BackupMainView::getLumoSuiteFilePath (int id)
{
  return backupDirectory + "/" + LumoSuiteTransfer::fileName (id);
}

bool
BackupMainView::removeLumoSuiteBackup ()
{
  return QDir (backupDirectory).removeRecursively ();
}
