#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <sys/types.h>

/* Decides which categories of a restore fit the file systems their files go to. Each category's
 * archive entries are added with their unpacked sizes; each location the restore would empty is
 * added with its categories; admit() then takes the categories in the given order and keeps one
 * only when what it writes fits the free space plus what removing its own current files frees,
 * after the categories kept before it. Runs on one thread; reads the file systems as they are. */
class RestoreRoomCheck
{
public:
  /* name: an archive entry's path below the archive's root, which is its path below "/";
   * size: its unpacked bytes. */
  void addEntry (int category, const QString &name, quint64 size);
  /* path: a location the restore removes before writing; categories: whose location it is. */
  void addLocation (const QString &path, int categories);
  /* The categories of candidates (single category flags, in order) that fit; traces the ones that
   * do not. */
  int admit (const QList<int> &candidates);

private:
  struct FileSystem
  {
    quint64 freeBytes = 0;
    quint64 blockSize = 4096;
  };
  struct Location
  {
    int categories;
    /* Bytes its removal frees, per file system. */
    QHash<dev_t, quint64> freed;
  };

  /* The file system of the nearest existing folder at or above path; false when none. */
  bool fileSystemOf (const QString &path, dev_t *device);

  QHash<QString, dev_t> folderDevices;
  QHash<dev_t, FileSystem> fileSystems;
  /* Per category, the bytes it writes per file system. */
  QHash<int, QHash<dev_t, quint64>> needs;
  QList<int> unplaceable;
  QList<Location> locations;
};
