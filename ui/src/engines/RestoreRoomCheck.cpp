/* GIO names a struct member "signals": the engine's headers come before any Qt header. */
#include "sf-tree-removal.h"

#include "RestoreRoomCheck.h"

#include "Tracing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <sys/statvfs.h>

namespace
{
/* Room for the folders and records a restore writes besides the files themselves. */
const quint64 fileSystemMargin = 65536;

quint64
roundUp (quint64 size, quint64 blockSize)
{
  return (size + blockSize - 1) / blockSize * blockSize;
}
} // namespace

bool
RestoreRoomCheck::fileSystemOf (const QString &path, dev_t *device)
{
  QString folder = QDir::cleanPath (path);
  QStringList visited;
  while (!folder.isEmpty ())
    {
      auto known = folderDevices.constFind (folder);
      if (known != folderDevices.constEnd ())
        {
          *device = known.value ();
          break;
        }
      struct stat status;
      if (stat (QFile::encodeName (folder).constData (), &status) == 0 && S_ISDIR (status.st_mode))
        {
          *device = status.st_dev;
          struct statvfs space;
          if (!fileSystems.contains (*device)
              && statvfs (QFile::encodeName (folder).constData (), &space) == 0)
            fileSystems.insert (*device, { quint64 (space.f_bavail) * space.f_frsize,
                                           qMax<quint64> (space.f_frsize, 1) });
          folderDevices.insert (folder, *device);
          break;
        }
      visited << folder;
      if (folder == QLatin1String ("/"))
        return false;
      folder = QFileInfo (folder).path ();
    }
  for (const QString &below : visited)
    folderDevices.insert (below, *device);
  return fileSystems.contains (*device);
}

void
RestoreRoomCheck::addEntry (int category, const QString &name, quint64 size)
{
  QString destination = '/' + name;
  dev_t device;
  if (!fileSystemOf (QFileInfo (destination).path (), &device))
    {
      unplaceable << category;
      return;
    }
  needs[category][device] += roundUp (size, fileSystems.value (device).blockSize);
}

void
RestoreRoomCheck::addLocation (const QString &path, int categories)
{
  Location location{ categories, {} };
  /* Counted by the walk that clears the location: what its exclusions spare frees nothing. */
  sf_tree_removal_measure_location (
      QFile::encodeName (path).constData (), categories,
      [] (dev_t device, guint64 bytes, gpointer freed) {
        (*static_cast<QHash<dev_t, quint64> *> (freed))[device] += bytes;
      },
      &location.freed);
  locations << location;
}

int
RestoreRoomCheck::admit (const QList<int> &candidates)
{
  int admitted = 0;
  QHash<dev_t, quint64> committed;
  for (int category : candidates)
    {
      if (unplaceable.contains (category))
        {
          TRACE ("No file system found for a file of category " + QString::number (category));
          continue;
        }
      /* Only locations wholly of categories kept so far are sure to be emptied. */
      int kept = admitted | category;
      QHash<dev_t, quint64> available;
      for (auto system = fileSystems.constBegin (); system != fileSystems.constEnd (); ++system)
        available[system.key ()] = system.value ().freeBytes;
      for (const Location &location : std::as_const (locations))
        if ((location.categories & kept) == location.categories)
          for (auto freed = location.freed.constBegin (); freed != location.freed.constEnd ();
               ++freed)
            available[freed.key ()] += freed.value ();
      bool fits = true;
      const QHash<dev_t, quint64> need = needs.value (category);
      for (auto wanted = need.constBegin (); wanted != need.constEnd (); ++wanted)
        if (committed.value (wanted.key ()) + wanted.value () + fileSystemMargin
            > available.value (wanted.key ()))
          fits = false;
      if (!fits)
        {
          TRACE ("Not enough space to restore category " + QString::number (category));
          continue;
        }
      for (auto wanted = need.constBegin (); wanted != need.constEnd (); ++wanted)
        committed[wanted.key ()] += wanted.value ();
      admitted |= category;
    }
  return admitted;
}
