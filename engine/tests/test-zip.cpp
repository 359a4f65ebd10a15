#include "sf-zip-reader.h"
#include "sf-zip-writer.h"

#include "tmpfs-mount.h"

#include <gio/gio.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-output-stdio.h>
#include "test-data.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/stat.h>
#include <sstream>
#include <string>
#include <vector>

/* libgsf declares no automatic cleanup of its own. */
G_DEFINE_AUTOPTR_CLEANUP_FUNC (GsfOutput, g_object_unref)
G_DEFINE_AUTOPTR_CLEANUP_FUNC (GsfInput, g_object_unref)

namespace
{
struct Item
{
  std::string name;
  guint mode;
  gint64 mtime;
  std::string data;
  bool is_dir = false;
  /* The size the writer is told, -1 for none. */
  gint64 declared = -1;
};

std::string
md5 (const std::string &data)
{
  g_autofree gchar *sum
      = g_compute_checksum_for_data (G_CHECKSUM_MD5, (const guchar *)data.data (), data.size ());
  return sum;
}

std::string
make_temp_dir ()
{
  g_autofree gchar *dir = g_dir_make_tmp ("zip-XXXXXX", NULL);
  return dir;
}

/* Writes items in uneven chunks; returns the first error, or NULL. */
GError *
write_archive (GsfOutput *sink, const std::vector<Item> &items)
{
  GError *error = NULL;
  g_autoptr (SfZipWriter) writer = sf_zip_writer_new (sink, &error);
  if (writer == NULL)
    return error;
  for (const Item &item : items)
    {
      if (!sf_zip_writer_begin_file (writer, item.name.c_str (), item.mode, item.mtime,
                                     item.declared, &error))
        return error;
      for (gsize offset = 0, chunk = 1; offset < item.data.size (); offset += chunk, chunk *= 3)
        {
          chunk = MIN (chunk, item.data.size () - offset);
          if (!sf_zip_writer_write (writer, item.data.data () + offset, chunk, &error))
            return error;
        }
      if (!sf_zip_writer_end_file (writer, &error))
        return error;
    }
  sf_zip_writer_close (writer, &error);
  return error;
}

void
write_file (const std::string &path, const std::vector<Item> &items)
{
  g_autoptr (GsfOutput) sink = gsf_output_stdio_new (path.c_str (), NULL);
  ASSERT_NE (sink, nullptr);
  g_autoptr (GError) error = write_archive (sink, items);
  ASSERT_EQ (error, nullptr) << error->message;
  ASSERT_TRUE (gsf_output_close (sink));
}

/* Reads every entry through our reader; sets error to the first failure. */
std::vector<Item>
read_file (const std::string &path, GError **error)
{
  std::vector<Item> items;
  g_autoptr (GsfInput) source = gsf_input_stdio_new (path.c_str (), error);
  if (source == NULL)
    return items;
  g_autoptr (SfZipReader) reader = sf_zip_reader_new (source, error);
  SfZipEntry entry;
  while (reader != NULL && sf_zip_reader_next_entry (reader, &entry, error))
    {
      items.push_back ({ entry.name, entry.mode, entry.mtime, "", (bool)entry.is_dir });
      char buffer[7000];
      gssize got;
      while ((got = sf_zip_reader_read (reader, buffer, sizeof buffer, error)) > 0)
        items.back ().data.append (buffer, got);
      if (got < 0)
        break;
      EXPECT_EQ (entry.size, (gint64)items.back ().data.size ());
    }
  return items;
}

std::string
run (const std::vector<std::string> &argv)
{
  std::vector<const char *> args;
  for (const std::string &arg : argv)
    args.push_back (arg.c_str ());
  args.push_back (NULL);
  g_autofree gchar *out = NULL;
  gint status = -1;
  g_autoptr (GError) error = NULL;
  g_spawn_sync (NULL, (gchar **)args.data (), NULL, G_SPAWN_STDERR_TO_DEV_NULL, NULL, NULL, &out,
                NULL, &status, &error);
  EXPECT_TRUE (g_spawn_check_wait_status (status, NULL)) << argv[0] << " " << argv[1];
  return out != NULL ? out : "";
}

/* A reader started in the background, so that several read one large archive at once. */
GSubprocess *
start (const std::vector<std::string> &argv)
{
  std::vector<const char *> args;
  for (const std::string &arg : argv)
    args.push_back (arg.c_str ());
  args.push_back (NULL);
  g_autoptr (GError) error = NULL;
  GSubprocess *process = g_subprocess_newv (
      args.data (),
      (GSubprocessFlags)(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_SILENCE),
      &error);
  EXPECT_NE (process, nullptr) << argv[0] << ": " << error->message;
  return process;
}

/* Waits for a reader started with start; its output. */
std::string
finish (GSubprocess *process, const std::string &what)
{
  if (process == NULL)
    return "";
  g_autofree gchar *out = NULL;
  g_autoptr (GError) error = NULL;
  EXPECT_TRUE (g_subprocess_communicate_utf8 (process, NULL, NULL, &out, NULL, &error)) << what;
  EXPECT_TRUE (g_subprocess_get_successful (process)) << what;
  g_object_unref (process);
  return out != NULL ? out : "";
}

/* Python's zipfile as the independent reader: name, Unix mode, extended-timestamp mtime, MD5,
 * after its own test of every entry. */
const char *PYTHON_LIST = R"(
import hashlib, struct, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    assert z.testzip() is None
    for info in z.infolist():
        extra, mtime = info.extra, None
        while len(extra) >= 4:
            tag, size = struct.unpack('<HH', extra[:4])
            if tag == 0x5455 and extra[4] & 1:
                mtime = struct.unpack('<I', extra[5:9])[0]
            extra = extra[4 + size:]
        print(info.filename, oct(info.external_attr >> 16), mtime,
              hashlib.md5(z.read(info)).hexdigest(), sep='|')
)";

std::string
listing (const std::vector<Item> &items)
{
  std::ostringstream text;
  for (const Item &item : items)
    text << item.name << "|0o" << std::oct << (0100000 | item.mode) << std::dec << "|" << item.mtime
         << "|" << md5 (item.data) << "\n";
  return text.str ();
}

std::vector<Item>
sample_items ()
{
  return {
    { "Root/home/user/.app/empty", 0600, 315532800, "" },
    { "Root/home/user/.app/data.db", 0644, 1000000000, random_bytes (3 * 1024 * 1024 + 17, 1) },
    { "Root/home/user/Documents/Grüße €.txt", 0755, 1234567890, "text\nline two\n" },
  };
}
} // namespace

TEST (ZipLayer, RoundTripThroughOurReaderAndPython)
{
  std::string path = make_temp_dir () + "/contacts.zip";
  std::vector<Item> items = sample_items ();
  write_file (path, items);

  g_autoptr (GError) error = NULL;
  std::vector<Item> back = read_file (path, &error);
  ASSERT_EQ (error, nullptr) << error->message;
  EXPECT_EQ (listing (back), listing (items));
  for (const Item &item : back)
    EXPECT_FALSE (item.is_dir) << item.name;

  EXPECT_EQ (run ({ "/usr/bin/python3", "-c", PYTHON_LIST, path }), listing (items));
  run ({ "/usr/bin/unzip", "-tq", path });
}

TEST (ZipLayer, DeclaredSizesSpareTheLargeFieldsAndBoundTheData)
{
  std::string dir = make_temp_dir ();
  std::vector<Item> items = sample_items ();
  for (Item &item : items)
    item.declared = item.data.size ();
  write_file (dir + "/declared.zip", items);
  write_file (dir + "/undeclared.zip", sample_items ());
  /* Each entry without its 64-bit extra field (20 bytes) and 64-bit data descriptor (8 more). */
  EXPECT_EQ (read_file (dir + "/undeclared.zip").size ()
                 - read_file (dir + "/declared.zip").size (),
             3u * 28);

  g_autoptr (GError) error = NULL;
  std::vector<Item> back = read_file (dir + "/declared.zip", &error);
  ASSERT_EQ (error, nullptr) << error->message;
  EXPECT_EQ (listing (back), listing (items));
  EXPECT_EQ (run ({ "/usr/bin/python3", "-c", PYTHON_LIST, dir + "/declared.zip" }),
             listing (items));
  run ({ "/usr/bin/unzip", "-tq", dir + "/declared.zip" });

  /* More or less than declared would make an entry readers refuse. */
  for (gsize size : { 3, 5 })
    {
      g_autoptr (GsfOutput) sink = gsf_output_stdio_new ((dir + "/wrong.zip").c_str (), NULL);
      g_autoptr (SfZipWriter) writer = sf_zip_writer_new (sink, NULL);
      ASSERT_TRUE (sf_zip_writer_begin_file (writer, "Root/changed", 0644, 0, 4, NULL));
      g_autoptr (GError) refused = NULL;
      if (sf_zip_writer_write (writer, "abcde", size, &refused))
        {
          EXPECT_FALSE (sf_zip_writer_end_file (writer, &refused));
        }
      EXPECT_TRUE (g_error_matches (refused, G_IO_ERROR, G_IO_ERROR_INVALID_ARGUMENT)) << size;
    }
}

TEST (ZipLayer, DirectoriesRefusedNamesAndNegativeTimes)
{
  std::string dir = make_temp_dir ();
  std::string path = dir + "/settings.zip";
  run ({ "/usr/bin/python3", "-c",
         "import sys, zipfile\n"
         "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
         "    z.writestr('Root/etc/', '')\n"
         "    z.writestr('Root/etc/a', 'x')\n",
         path });
  {
    g_autoptr (GsfOutput) sink = gsf_output_stdio_new ((dir + "/old.zip").c_str (), NULL);
    g_autoptr (SfZipWriter) writer = sf_zip_writer_new (sink, NULL);
    g_autoptr (GError) refused = NULL;
    EXPECT_FALSE (sf_zip_writer_begin_file (writer, "Root/latin-\xe9", 0644, 0, -1, &refused));
    EXPECT_TRUE (g_error_matches (refused, G_IO_ERROR, G_IO_ERROR_INVALID_ARGUMENT));
    ASSERT_TRUE (sf_zip_writer_begin_file (writer, "Root/old", 0644, -86400, 0, NULL));
    ASSERT_TRUE (sf_zip_writer_end_file (writer, NULL) && sf_zip_writer_close (writer, NULL));
    ASSERT_TRUE (gsf_output_close (sink));
  }

  g_autoptr (GError) error = NULL;
  std::vector<Item> back = read_file (path, &error);
  ASSERT_EQ (error, nullptr) << error->message;
  ASSERT_EQ (back.size (), 2u);
  EXPECT_TRUE (back[0].is_dir);
  EXPECT_FALSE (back[1].is_dir);
  EXPECT_EQ (back[1].data, "x");

  back = read_file (dir + "/old.zip", &error);
  ASSERT_EQ (back.size (), 1u);
  EXPECT_EQ (back[0].mtime, 0);
  EXPECT_EQ (error, nullptr);
}

TEST (ZipLayer, DamagedArchivesFail)
{
  std::string dir = make_temp_dir ();
  std::string good = dir + "/good.zip";
  write_file (good, sample_items ());
  g_autofree gchar *contents = NULL;
  gsize length = 0;
  ASSERT_TRUE (g_file_get_contents (good.c_str (), &contents, &length, NULL));
  std::string bytes (contents, length);

  /* The stored checksum of the first entry with data, wherever it is repeated. */
  gsize central = bytes.find ("PK\x01\x02");
  ASSERT_NE (central, std::string::npos);
  central = bytes.find ("PK\x01\x02", central + 4);
  std::string crc = bytes.substr (central + 16, 4);
  std::string wrong_crc = bytes;
  for (gsize at = 0; (at = wrong_crc.find (crc, at)) != std::string::npos; at += 4)
    wrong_crc[at] ^= 1;

  std::string flipped = bytes;
  flipped[bytes.size () / 2] ^= 0x40;

  const std::vector<std::pair<std::string, std::string>> cases = {
    { "truncated", bytes.substr (0, bytes.size () - 1) },
    { "half", bytes.substr (0, bytes.size () / 2) },
    { "flipped", flipped },
    { "wrong-crc", wrong_crc },
    { "not-zip", std::string (4096, 'a') },
    { "empty", "" },
  };
  for (const auto &[name, data] : cases)
    {
      std::string path = dir + "/" + name + ".zip";
      ASSERT_TRUE (g_file_set_contents (path.c_str (), data.data (), data.size (), NULL));
      g_autoptr (GError) error = NULL;
      read_file (path, &error);
      ASSERT_NE (error, nullptr) << name;
      EXPECT_TRUE (g_error_matches (error, G_IO_ERROR, G_IO_ERROR_INVALID_DATA))
          << name << ": " << error->message;
    }
}

TEST (ZipLayer, FailingSinkIsReported)
{
  TmpfsMount tmpfs ("256k");
  SKIP_UNLESS_MOUNTED (tmpfs);
  g_autoptr (GsfOutput) sink = gsf_output_stdio_new ((tmpfs.path () + "/full.zip").c_str (), NULL);
  ASSERT_NE (sink, nullptr);

  g_autoptr (GError) error = write_archive (sink, sample_items ());
  ASSERT_NE (error, nullptr);
  EXPECT_TRUE (g_error_matches (error, G_IO_ERROR, G_IO_ERROR_NO_SPACE)) << error->message;
  ASSERT_NE (gsf_output_error (sink), nullptr);
  EXPECT_STREQ (error->message, gsf_output_error (sink)->message);
}

namespace
{
/* Text that compresses well, so that a chunk primed with the wrong dictionary would show. */
std::string
text_bytes (gsize size)
{
  std::string text;
  for (guint line = 0; text.size () < size; line++)
    text += "line " + std::to_string (line % 977) + " of a letter to be kept\n";
  text.resize (size);
  return text;
}

/* The names and sizes bsdtar lists, one "name size" a line. */
std::string
bsdtar_listing (const std::string &path)
{
  return run ({ "/usr/bin/python3", "-c",
                "import subprocess, sys\n"
                "out = subprocess.run(['bsdtar', '-tvf', sys.argv[1]], check=True,\n"
                "                     capture_output=True, text=True).stdout\n"
                "for line in out.splitlines():\n"
                "    f = line.split(None, 8)\n"
                "    print(f[0], f[8], f[4])\n",
                path });
}

std::string
expected_bsdtar_listing (const std::vector<Item> &items)
{
  std::string text;
  for (const Item &item : items)
    {
      g_autofree gchar *mode = g_strdup_printf (
          "-%c%c%c%c%c%c%c%c%c", item.mode & 0400 ? 'r' : '-', item.mode & 0200 ? 'w' : '-',
          item.mode & 0100 ? 'x' : '-', item.mode & 040 ? 'r' : '-', item.mode & 020 ? 'w' : '-',
          item.mode & 010 ? 'x' : '-', item.mode & 04 ? 'r' : '-', item.mode & 02 ? 'w' : '-',
          item.mode & 01 ? 'x' : '-');
      text
          += std::string (mode) + " " + item.name + " " + std::to_string (item.data.size ()) + "\n";
    }
  return text;
}

/* unzip's test and its extraction, compared file by file. */
void
check_with_unzip (const std::string &path, const std::vector<Item> &items)
{
  run ({ "/usr/bin/unzip", "-tq", path });
  std::string out = make_temp_dir ();
  run ({ "/usr/bin/unzip", "-qq", path, "-d", out });
  for (const Item &item : items)
    {
      g_autofree gchar *data = NULL;
      gsize length = 0;
      ASSERT_TRUE (g_file_get_contents ((out + "/" + item.name).c_str (), &data, &length, NULL))
          << item.name;
      EXPECT_EQ (md5 (std::string (data, length)), md5 (item.data)) << item.name;
    }
  EXPECT_EQ (system (("rm -rf '" + out + "'").c_str ()), 0);
}

void
check_with_every_reader (const std::string &path, const std::vector<Item> &items)
{
  g_autoptr (GError) error = NULL;
  std::vector<Item> back = read_file (path, &error);
  ASSERT_EQ (error, nullptr) << error->message;
  EXPECT_EQ (listing (back), listing (items));
  EXPECT_EQ (run ({ "/usr/bin/python3", "-c", PYTHON_LIST, path }), listing (items));
  check_with_unzip (path, items);
  EXPECT_NE (run ({ "/usr/bin/7z", "t", path }).find ("Everything is Ok"), std::string::npos);
  EXPECT_EQ (bsdtar_listing (path), expected_bsdtar_listing (items));
}
} // namespace

TEST (ZipLayer, EveryReaderReadsEntriesWholeAndInChunks)
{
  std::string dir = make_temp_dir ();
  std::vector<Item> items = {
    { "Root/a/empty", 0600, 315532799, "" },
    { "Root/a/Grüße €/ünïcødé.txt", 0755, 4102444800, "after 2038\n" },
    { "Root/a/1970", 0644, 86400, "before 1980\n" },
    { "Root/b/one-chunk", 0644, 1300000000, random_bytes (1024 * 1024, 2), false, 1024 * 1024 },
    { "Root/b/text", 0600, 1300000001, text_bytes (2 * 1024 * 1024 + 5) },
    { "Root/b/two-chunks", 0644, 1300000002, random_bytes (2 * 1024 * 1024, 3) },
    { "Root/b/mixed", 0755, 1300000003, random_bytes (1536 * 1024, 4) + text_bytes (1700000) },
  };
  write_file (dir + "/entries.zip", items);
  check_with_every_reader (dir + "/entries.zip", items);
  /* Random chunks are stored, text chunks deflated: the archive holds little more than the random
   * bytes. A text chunk stored by mistake would add a whole MiB. */
  gsize random_size = (1024 + 2 * 1024 + 1536) * 1024;
  gsize text_size = 2 * 1024 * 1024 + 5 + 1700000;
  struct stat archive;
  ASSERT_EQ (stat ((dir + "/entries.zip").c_str (), &archive), 0);
  EXPECT_LT ((gsize)archive.st_size, random_size + random_size / 500 + text_size / 10);

  write_file (dir + "/empty.zip", {});
  g_autoptr (GError) error = NULL;
  EXPECT_TRUE (read_file (dir + "/empty.zip", &error).empty ());
  EXPECT_EQ (error, nullptr);
  EXPECT_EQ (run ({ "/usr/bin/python3", "-c", PYTHON_LIST, dir + "/empty.zip" }), "");
  EXPECT_NE (run ({ "/usr/bin/7z", "t", dir + "/empty.zip" }).find ("Everything is Ok"),
             std::string::npos);
  EXPECT_EQ (bsdtar_listing (dir + "/empty.zip"), "");
}

TEST (ZipLayer, MoreThan65535EntriesGet64BitEndRecords)
{
  std::string path = make_temp_dir () + "/many.zip";
  std::vector<Item> items;
  for (int index = 0; index < 70000; index++)
    items.push_back ({ "Root/many/" + std::to_string (index), 0644, 1300000000,
                       index % 7 == 0 ? "" : std::to_string (index) });
  write_file (path, items);

  g_autofree gchar *contents = NULL;
  gsize length = 0;
  ASSERT_TRUE (g_file_get_contents (path.c_str (), &contents, &length, NULL));
  EXPECT_NE (std::string (contents, length).find ("PK\x06\x06"), std::string::npos);
  check_with_every_reader (path, items);
}

/* Zeros deflate to a few MiB, so the source and the archive stay small. */
TEST (ZipLayer, EntryAbove4GiBGets64BitSizes)
{
  const guint64 size = (4ull << 30) + 3 * 1024 * 1024 + 5;
  std::string path = make_temp_dir () + "/large.zip";
  {
    g_autoptr (GsfOutput) sink = gsf_output_stdio_new (path.c_str (), NULL);
    g_autoptr (SfZipWriter) writer = sf_zip_writer_new (sink, NULL);
    ASSERT_TRUE (sf_zip_writer_begin_file (writer, "Root/zeros", 0600, 1300000000, -1, NULL));
    std::string zeros (1024 * 1024, '\0');
    for (guint64 left = size; left > 0; left -= MIN (left, zeros.size ()))
      ASSERT_TRUE (sf_zip_writer_write (writer, zeros.data (), MIN (left, zeros.size ()), NULL));
    ASSERT_TRUE (sf_zip_writer_end_file (writer, NULL));
    ASSERT_TRUE (sf_zip_writer_begin_file (writer, "Root/after", 0644, 1300000001, 5, NULL));
    ASSERT_TRUE (sf_zip_writer_write (writer, "after", 5, NULL));
    ASSERT_TRUE (sf_zip_writer_end_file (writer, NULL) && sf_zip_writer_close (writer, NULL));
    ASSERT_TRUE (gsf_output_close (sink));
  }

  /* Each reader inflates the whole 4 GiB: the others run beside ours. */
  GSubprocess *unzip = start ({ "/usr/bin/unzip", "-tq", path });
  GSubprocess *seven = start ({ "/usr/bin/7z", "t", path });
  GSubprocess *python = start ({ "/usr/bin/python3", "-c",
                                 "import sys, zipfile\n"
                                 "z = zipfile.ZipFile(sys.argv[1])\n"
                                 "print([(i.filename, i.file_size) for i in z.infolist()], "
                                 "z.testzip())\n",
                                 path });
  /* Ours; the background readers are waited for whatever it finds. */
  [&path, size] {
    g_autoptr (GsfInput) source = gsf_input_stdio_new (path.c_str (), NULL);
    g_autoptr (SfZipReader) reader = sf_zip_reader_new (source, NULL);
    ASSERT_NE (reader, nullptr);
    SfZipEntry entry;
    ASSERT_TRUE (sf_zip_reader_next_entry (reader, &entry, NULL));
    EXPECT_EQ (entry.size, (gint64)size);
    std::vector<char> buffer (1024 * 1024);
    const std::vector<char> zeros (buffer.size ());
    guint64 total = 0;
    bool all_zero = true;
    gssize got;
    while ((got = sf_zip_reader_read (reader, buffer.data (), buffer.size (), NULL)) > 0)
      {
        total += got;
        all_zero = all_zero && memcmp (buffer.data (), zeros.data (), got) == 0;
      }
    EXPECT_EQ (got, 0);
    EXPECT_EQ (total, size);
    EXPECT_TRUE (all_zero);
    ASSERT_TRUE (sf_zip_reader_next_entry (reader, &entry, NULL));
    EXPECT_STREQ (entry.name, "Root/after");
    EXPECT_FALSE (sf_zip_reader_next_entry (reader, &entry, NULL));
  }();

  finish (unzip, "unzip");
  EXPECT_NE (finish (seven, "7z").find ("Everything is Ok"), std::string::npos);
  EXPECT_EQ (finish (python, "python"),
             "[('Root/zeros', " + std::to_string (size) + "), ('Root/after', 5)] None\n");
  EXPECT_EQ (bsdtar_listing (path),
             "-rw------- Root/zeros " + std::to_string (size) + "\n-rw-r--r-- Root/after 5\n");
}
