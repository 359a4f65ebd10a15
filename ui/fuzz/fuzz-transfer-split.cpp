/* A transfer file from a desktop suite, split into a backup directory: either the split refuses
 * it and the directory stays empty, or every file written is exactly one record's bytes, under
 * its record's name, and the records tile the whole input. Input: the transfer file. */

#include "LumoSuiteTransfer.h"
#include "sf-category.h"

#include "fuzz-support.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <unistd.h>

namespace
{
QByteArray
readAll (const QString &path)
{
  QFile file (path);
  if (!file.open (QIODevice::ReadOnly))
    abort ();
  return file.readAll ();
}
} // namespace

extern "C" int
LLVMFuzzerTestOneInput (const uint8_t *data, size_t size)
{
  static const QString scratch = QString::fromStdString (fuzz_scratch_dir ());
  const QString input = scratch + "/input.transfer";
  const QString output = scratch + "/split";
  fuzz_write_file (input.toStdString (), data, size);
  QDir (output).removeRecursively ();

  QString error;
  int fd = open (input.toLocal8Bit ().constData (), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    abort ();
  QList<LumoSuiteTransfer::Record> records = LumoSuiteTransfer::readLayout (fd, &error);
  close (fd);

  bool split = LumoSuiteTransfer::split (input, output, SF_CATEGORY_ALL, &error);
  QStringList written = QDir (output).entryList (QDir::AllEntries | QDir::NoDotAndDotDot
                                                 | QDir::Hidden | QDir::System);
  if (!split)
    {
      if (!written.isEmpty ())
        abort ();
      return 0;
    }
  if (records.isEmpty () || written.size () != records.size ())
    abort ();
  const QByteArray whole (reinterpret_cast<const char *> (data), qsizetype (size));
  qint64 end = 0;
  for (const LumoSuiteTransfer::Record &record : records)
    {
      /* Each record starts right after the previous one's bytes and its 9-byte header. */
      if (record.offset < end || record.length < 0 || record.offset + record.length > qint64 (size))
        abort ();
      end = record.offset + record.length;
      const QString name = LumoSuiteTransfer::fileName (record.id);
      if (name.isEmpty ()
          || readAll (output + "/" + name) != whole.mid (record.offset, record.length))
        abort ();
    }
  if (end != qint64 (size))
    abort ();
  return 0;
}
