#include "LumoSuiteTransfer.h"

#include "test-data.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

namespace
{
/* One record as the desktop suite writes it, encoded by hand. */
std::string
record (int id, const std::string &data, long long length)
{
  std::string bytes (1, (char)id);
  for (int shift = 56; shift >= 0; shift -= 8)
    bytes += (char)((length >> shift) & 0xff);
  return bytes + data;
}

std::string
record (int id, const std::string &data)
{
  return record (id, data, (long long)data.size ());
}

void
writeFile (const QString &path, const std::string &bytes)
{
  QFile file (path);
  ASSERT_TRUE (file.open (QIODevice::WriteOnly | QIODevice::Truncate));
  file.write (bytes.data (), bytes.size ());
}

class LumoSuiteTransferTest : public ::testing::Test
{
protected:
  QString path (const QString &name) const
  {
    return dir.path () + "/" + name;
  }

  std::string content (const QString &name) const
  {
    return read_file (path (name).toStdString ());
  }

  QTemporaryDir dir;
  const std::string metadata = "<backup-metadata/>";
  const std::string contacts = random_bytes (70000, 1);
  const std::string emails = random_bytes (5000, 2);
  const std::string messaging = random_bytes (1, 3);
};
} // namespace

TEST_F (LumoSuiteTransferTest, MergeWritesCountIdsInOrderAndBigEndianLengths)
{
  writeFile (path ("backup.metadata"), metadata);
  writeFile (path ("contacts.zip"), contacts);
  writeFile (path ("emails.zip"), emails);
  writeFile (path ("messaging.zip"), messaging);
  QString error;

  ASSERT_TRUE (LumoSuiteTransfer::merge (
      { { 1, path ("contacts.zip") }, { 0, path ("backup.metadata") } }, path ("contacts"), &error))
      << error.toStdString ();
  EXPECT_EQ (content ("contacts"), "\x02" + record (0, metadata) + record (1, contacts));

  ASSERT_TRUE (LumoSuiteTransfer::merge ({ { 4, path ("messaging.zip") },
                                           { 2, path ("emails.zip") },
                                           { 0, path ("backup.metadata") } },
                                         path ("messages"), &error));
  EXPECT_EQ (content ("messages"),
             "\x03" + record (0, metadata) + record (2, emails) + record (4, messaging));
}

TEST_F (LumoSuiteTransferTest, MergeReplacesALinkAndLeavesNothingWhenASourceIsMissing)
{
  writeFile (path ("backup.metadata"), metadata);
  writeFile (path ("contacts.zip"), contacts);
  writeFile (path ("precious"), "keep");
  ASSERT_EQ (
      symlink (path ("precious").toUtf8 ().constData (), path ("out").toUtf8 ().constData ()), 0);
  QString error;

  ASSERT_TRUE (LumoSuiteTransfer::merge (
      { { 0, path ("backup.metadata") }, { 1, path ("contacts.zip") } }, path ("out"), &error));
  EXPECT_EQ (content ("precious"), "keep");
  EXPECT_FALSE (QFileInfo (path ("out")).isSymLink ());
  EXPECT_EQ (content ("out"), "\x02" + record (0, metadata) + record (1, contacts));

  EXPECT_FALSE (LumoSuiteTransfer::merge (
      { { 0, path ("backup.metadata") }, { 8, path ("organizer.zip") } }, path ("gone"), &error));
  EXPECT_FALSE (error.isEmpty ());
  EXPECT_FALSE (QFile::exists (path ("gone")));
  EXPECT_EQ (QDir (dir.path ()).entryList (QDir::Files | QDir::Hidden).size (), 4)
      << "no temporary file stays behind";

  EXPECT_FALSE (LumoSuiteTransfer::merge ({ { 1, path ("contacts.zip") } }, path ("x"), &error))
      << "a transfer file without the metadata could never be restored";
}

TEST_F (LumoSuiteTransferTest, SplitRestoresEveryFileAndReplacesOldOnes)
{
  const QString backup = path ("backups/LUMO Suite Backup");
  ASSERT_TRUE (QDir ().mkpath (backup));
  writeFile (backup + "/emails.zip", "stale");
  writeFile (path ("messages"),
             "\x03" + record (0, metadata) + record (2, emails) + record (4, messaging));
  QString error;

  ASSERT_TRUE (LumoSuiteTransfer::split (path ("messages"), backup, 6, &error))
      << error.toStdString ();
  EXPECT_EQ (read_file ((backup + "/backup.metadata").toStdString ()), metadata);
  EXPECT_EQ (read_file ((backup + "/emails.zip").toStdString ()), emails);
  EXPECT_EQ (read_file ((backup + "/messaging.zip").toStdString ()), messaging);
  EXPECT_EQ (LumoSuiteTransfer::categoriesOf (path ("messages"), &error), 6);

  writeFile (path ("contacts"), "\x02" + record (0, metadata) + record (1, contacts));
  ASSERT_TRUE (LumoSuiteTransfer::split (path ("contacts"), path ("new/dir"), 1, &error));
  EXPECT_EQ (read_file ((path ("new/dir") + "/contacts.zip").toStdString ()), contacts);
}

TEST_F (LumoSuiteTransferTest, SplitRefusesMalformedFilesBeforeWritingAnything)
{
  const std::string meta = record (0, metadata);
  const std::string one = record (1, contacts);
  const std::string whole = "\x02" + meta + one;
  const struct
  {
    const char *what;
    std::string bytes;
  } cases[] = {
    { "empty", "" },
    { "count 1", "\x01" + meta },
    { "count 4", "\x04" + meta + one + record (2, emails) + record (4, messaging) },
    { "count -2", "\xfe" + meta + one },
    { "id 3", "\x02" + meta + record (3, contacts) },
    { "id 128", "\x02" + meta + record (-128, contacts) },
    { "metadata twice", "\x02" + meta + record (0, contacts) },
    { "no metadata", "\x02" + one + record (2, emails) },
    { "length past the end", "\x02" + meta + record (1, contacts, contacts.size () + 1) },
    { "negative length", "\x02" + meta + record (1, contacts, -1) },
    { "huge length", "\x02" + meta + record (1, contacts, 0x7fffffffffffffffLL) },
    { "short length", "\x02" + meta + record (1, contacts, contacts.size () - 1) },
    { "truncated in the data", whole.substr (0, whole.size () - 1) },
    { "truncated in a header", "\x02" + meta + one.substr (0, 4) },
    { "trailing bytes", whole + "x" },
    { "category not asked for", "\x02" + meta + record (2, emails) },
  };
  const QString backup = path ("backup");
  ASSERT_TRUE (QDir ().mkpath (backup));
  writeFile (backup + "/contacts.zip", "previous");

  for (const auto &malformed : cases)
    {
      writeFile (path ("in"), malformed.bytes);
      QString error;
      EXPECT_FALSE (LumoSuiteTransfer::split (path ("in"), backup, 1, &error)) << malformed.what;
      EXPECT_FALSE (error.isEmpty ()) << malformed.what;
      EXPECT_EQ (QDir (backup).entryList (QDir::Files | QDir::Hidden),
                 QStringList{ "contacts.zip" })
          << malformed.what;
      EXPECT_EQ (read_file ((backup + "/contacts.zip").toStdString ()), "previous")
          << malformed.what;
    }

  writeFile (path ("good"), whole);
  ASSERT_EQ (symlink (path ("good").toUtf8 ().constData (), path ("link").toUtf8 ().constData ()),
             0);
  QString error;
  EXPECT_FALSE (LumoSuiteTransfer::split (path ("link"), backup, 1, &error))
      << "a link where the suite's file should be is not read";
  EXPECT_EQ (LumoSuiteTransfer::categoriesOf (path ("link"), &error), 0);
}
