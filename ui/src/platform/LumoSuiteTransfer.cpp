#include "LumoSuiteTransfer.h"

#include "sf-category.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace LumoSuiteTransfer
{
namespace
{
const int recordHeaderSize = 1 + 8;
/* The metadata's name until its folder is in place. */
const char *const hiddenMetadata = ".backup.metadata.partial";
const qint64 copyBlockSize = 65536;

/* Closes the descriptor it holds when it goes out of scope. */
class Fd
{
public:
  explicit Fd (int fd = -1) : fd_ (fd)
  {
  }
  ~Fd ()
  {
    if (fd_ >= 0)
      close (fd_);
  }
  Fd (const Fd &) = delete;
  Fd &operator= (const Fd &) = delete;
  int get () const
  {
    return fd_;
  }
  int release ()
  {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

private:
  int fd_;
};

bool
fail (QString *error, const QString &message)
{
  if (error)
    *error = message;
  return false;
}

QString
systemError (const QString &what, const QString &path)
{
  return what + " " + path + ": " + QString::fromLocal8Bit (strerror (errno));
}

bool
validId (int id)
{
  return id == 0 || (id > 0 && id <= SF_CATEGORY_APPLICATIONS && (id & (id - 1)) == 0);
}

/* Opens a regular file for reading without following a link in its last component. */
int
openRegularFile (const QString &path, QString *error)
{
  Fd fd (open (QFile::encodeName (path).constData (), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  struct stat info;
  if (fd.get () < 0 || fstat (fd.get (), &info) != 0)
    fail (error, systemError ("cannot open", path));
  else if (!S_ISREG (info.st_mode))
    fail (error, path + " is not a regular file");
  else
    return fd.release ();
  return -1;
}

bool
writeAll (int fd, const char *data, qint64 size)
{
  while (size > 0)
    {
      ssize_t written = write (fd, data, size);
      if (written < 0 && errno == EINTR)
        continue;
      if (written <= 0)
        return false;
      data += written;
      size -= written;
    }
  return true;
}

/* Reads exactly size bytes at offset; false on an error or an early end. */
bool
readAt (int fd, char *data, qint64 size, qint64 offset)
{
  while (size > 0)
    {
      ssize_t got = pread (fd, data, size, offset);
      if (got < 0 && errno == EINTR)
        continue;
      if (got <= 0)
        return false;
      data += got;
      size -= got;
      offset += got;
    }
  return true;
}

/* Copies length bytes from input at offset to output; a source that ends early or grows
 * while read fails, so a record never disagrees with its length field. */
bool
copyRange (int input, qint64 offset, qint64 length, int output, bool wholeFile)
{
  QByteArray block (copyBlockSize, Qt::Uninitialized);
  while (length > 0)
    {
      qint64 chunk = qMin (length, copyBlockSize);
      if (!readAt (input, block.data (), chunk, offset) || !writeAll (output, block.data (), chunk))
        return false;
      offset += chunk;
      length -= chunk;
    }
  char extra;
  return !wholeFile || pread (input, &extra, 1, offset) == 0;
}

bool
appendRecord (int output, int id, const QString &source, QString *error)
{
  Fd input (openRegularFile (source, error));
  struct stat info;
  if (input.get () < 0 || fstat (input.get (), &info) != 0)
    return false;
  char header[recordHeaderSize];
  header[0] = (char)id;
  qToBigEndian<qint64> (info.st_size, header + 1);
  if (!writeAll (output, header, sizeof header)
      || !copyRange (input.get (), 0, info.st_size, output, true))
    return fail (error, "error in merging " + source);
  return true;
}

/* Removes name in dirFd whatever it is; a folder goes with everything below it, and a link is
 * removed, never followed. True when nothing is left under name. */
bool
removeTree (int dirFd, const char *name)
{
  if (unlinkat (dirFd, name, 0) == 0 || errno == ENOENT)
    return true;
  if (errno != EISDIR && errno != EPERM)
    return false;
  int folder = openat (dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0)
    return false;
  DIR *entries = fdopendir (folder);
  if (entries == nullptr)
    {
      close (folder);
      return false;
    }
  bool emptied = true;
  while (struct dirent *entry = readdir (entries))
    if (strcmp (entry->d_name, ".") != 0 && strcmp (entry->d_name, "..") != 0)
      emptied = removeTree (dirfd (entries), entry->d_name) && emptied;
  closedir (entries);
  return (emptied && unlinkat (dirFd, name, AT_REMOVEDIR) == 0) || errno == ENOENT;
}

/* The folder at path, made when missing; a link or anything else there is replaced by a folder.
 * An open descriptor, or -1 with *error set. */
int
openFolder (const QString &path, QString *error)
{
  QFileInfo info (path);
  if (!QDir ().mkpath (info.path ()))
    {
      fail (error, "cannot create the directory " + info.path ());
      return -1;
    }
  Fd parent (
      open (QFile::encodeName (info.path ()).constData (), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  QByteArray name = QFile::encodeName (info.fileName ());
  int fd = -1;
  for (int attempt = 0; parent.get () >= 0 && fd < 0 && attempt < 2; attempt++)
    {
      if (mkdirat (parent.get (), name.constData (), 0755) != 0 && errno != EEXIST)
        break;
      fd = openat (parent.get (), name.constData (),
                   O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (fd < 0 && !removeTree (parent.get (), name.constData ()))
        break;
    }
  if (fd < 0)
    fail (error, systemError ("cannot open the directory", path));
  return fd;
}

/* Writes record's file into dirFd under name, flushed to the memory. */
bool
writeRecord (int input, const Record &record, int dirFd, const QByteArray &name, QString *error)
{
  Fd output (openat (dirFd, name.constData (), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                     0644));
  if (output.get () < 0)
    return fail (error, systemError ("cannot create", fileName (record.id)));
  if (!copyRange (input, record.offset, record.length, output.get (), false))
    return fail (error, "error in splitting into " + fileName (record.id));
  return (fsync (output.get ()) == 0 && close (output.release ()) == 0)
         || fail (error, systemError ("cannot write", fileName (record.id)));
}

/* The records' files in a fresh folder name inside parentFd, the metadata last and under a
 * hidden name, so that the folder never looks like a whole backup before it is one. */
bool
writeRecords (int input, const QList<Record> &records, int parentFd, const QByteArray &name,
              QString *error)
{
  if (!removeTree (parentFd, name.constData ()) || mkdirat (parentFd, name.constData (), 0755) != 0)
    return fail (error, systemError ("cannot make the folder", QString::fromLocal8Bit (name)));
  Fd folder (openat (parentFd, name.constData (), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (folder.get () < 0)
    return fail (error, systemError ("cannot open the folder", QString::fromLocal8Bit (name)));
  for (const Record &record : records)
    if (record.id != 0
        && !writeRecord (input, record, folder.get (), QFile::encodeName (fileName (record.id)),
                         error))
      return false;
  for (const Record &record : records)
    if (record.id == 0 && !writeRecord (input, record, folder.get (), hiddenMetadata, error))
      return false;
  return fsync (folder.get ()) == 0 || fail (error, systemError ("cannot flush", "the folder"));
}
} // namespace

QString
fileName (int id)
{
  if (!validId (id))
    return QString ();
  if (id == 0)
    return "backup.metadata";
  return QString::fromUtf8 (sf_category_to_string ((SfCategory)id)) + ".zip";
}

bool
merge (const QMap<int, QString> &files, const QString &path, QString *error)
{
  if (files.size () < 2 || files.size () > 3 || !files.contains (0))
    return fail (error, QString ("a transfer file holds the metadata and one or two archives, not "
                                 "%1 files")
                            .arg (files.size ()));
  for (int id : files.keys ())
    if (!validId (id))
      return fail (error, QString ("no transfer record for id %1").arg (id));

  QByteArray temporary = QFile::encodeName (QFileInfo (path).path () + "/."
                                            + QFileInfo (path).fileName () + ".XXXXXX");
  Fd output (mkostemp (temporary.data (), O_CLOEXEC));
  if (output.get () < 0)
    return fail (error, systemError ("cannot create a file beside", path));
  fchmod (output.get (), 0644);

  char count = (char)files.size ();
  bool merged = writeAll (output.get (), &count, 1) || fail (error, "cannot write " + path);
  for (auto entry = files.cbegin (); merged && entry != files.cend (); ++entry)
    merged = appendRecord (output.get (), entry.key (), entry.value (), error);
  if (merged && close (output.release ()) != 0)
    merged = fail (error, systemError ("cannot write", path));
  if (merged && rename (temporary.constData (), QFile::encodeName (path).constData ()) != 0)
    merged = fail (error, systemError ("cannot replace", path));
  if (!merged)
    unlink (temporary.constData ());
  return merged;
}

QList<Record>
readLayout (int fd, QString *error)
{
  auto refuse = [error] (const QString &message) {
    fail (error, message);
    return QList<Record> ();
  };
  struct stat info;
  if (fstat (fd, &info) != 0)
    return refuse ("cannot read the transfer file");
  const qint64 size = info.st_size;

  char count;
  if (!readAt (fd, &count, 1, 0))
    return refuse ("the transfer file is empty");
  if (count != 2 && count != 3)
    return refuse (QString ("file count %1 is not 2 or 3").arg ((int)count));

  QList<Record> records;
  QSet<int> seen;
  qint64 offset = 1;
  for (int index = 0; index < count; index++)
    {
      char header[recordHeaderSize];
      if (size - offset < recordHeaderSize || !readAt (fd, header, sizeof header, offset))
        return refuse (QString ("the transfer file ends inside record %1").arg (index + 1));
      int id = (qint8)header[0];
      qint64 length = qFromBigEndian<qint64> (header + 1);
      offset += recordHeaderSize;
      if (!validId (id))
        return refuse (QString ("invalid category %1").arg (id));
      if (seen.contains (id))
        return refuse (QString ("category %1 appears twice").arg (id));
      if (length < 0 || length > size - offset)
        return refuse (QString ("record %1 claims %2 bytes, past the end of the file")
                           .arg (index + 1)
                           .arg (length));
      seen.insert (id);
      records.append ({ id, offset, length });
      offset += length;
    }
  if (offset != size)
    return refuse (QString ("%1 bytes follow the last record").arg (size - offset));
  if (!seen.contains (0))
    return refuse ("the transfer file holds no backup metadata");
  return records;
}

int
categoriesOf (const QString &path, QString *error)
{
  Fd fd (openRegularFile (path, error));
  if (fd.get () < 0)
    return 0;
  int categories = 0;
  for (const Record &record : readLayout (fd.get (), error))
    categories |= record.id;
  return categories;
}

bool
split (const QString &path, const QString &directory, int allowedCategories, QString *error)
{
  Fd input (openRegularFile (path, error));
  if (input.get () < 0)
    return false;
  QList<Record> records = readLayout (input.get (), error);
  if (records.isEmpty ())
    return false;
  for (const Record &record : records)
    if (record.id & ~allowedCategories)
      return fail (error, QString ("category %1 was not asked for").arg (record.id));

  QFileInfo info (directory);
  if (!QDir ().mkpath (info.path ()))
    return fail (error, "cannot create the directory " + info.path ());
  Fd parent (
      open (QFile::encodeName (info.path ()).constData (), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (parent.get () < 0)
    return fail (error, systemError ("cannot open the directory", info.path ()));
  QByteArray name = QFile::encodeName (info.fileName ());
  QByteArray partial = QFile::encodeName (partialName (info.fileName ()));
  bool written = writeRecords (input.get (), records, parent.get (), partial, error);
  if (written && !removeTree (parent.get (), name.constData ()))
    written = fail (error, systemError ("cannot remove", directory));
  if (written
      && renameat (parent.get (), partial.constData (), parent.get (), name.constData ()) != 0)
    written = fail (error, systemError ("cannot rename into", directory));
  if (!written)
    {
      removeTree (parent.get (), partial.constData ());
      return false;
    }
  Fd folder (
      openat (parent.get (), name.constData (), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (folder.get () < 0
      || renameat (folder.get (), hiddenMetadata, folder.get (),
                   QFile::encodeName (fileName (0)).constData ())
             != 0)
    {
      fail (error, systemError ("cannot complete", directory));
      removeTree (parent.get (), name.constData ());
      return false;
    }
  return true;
}

QString
partialName (const QString &name)
{
  return "." + name + ".partial";
}

bool
clearPath (const QString &path)
{
  QFileInfo info (path);
  Fd parent (
      open (QFile::encodeName (info.path ()).constData (), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return parent.get () < 0
             ? errno == ENOENT
             : removeTree (parent.get (), QFile::encodeName (info.fileName ()).constData ());
}

bool
makeFolder (const QString &path, QString *error)
{
  Fd folder (openFolder (path, error));
  return folder.get () >= 0;
}
}
