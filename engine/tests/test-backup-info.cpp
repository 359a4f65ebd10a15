#include "sf-backup-info.h"
#include "sf-log.h"

#include "log-capture.h"
#include "tmpfs-mount.h"

#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace
{
std::string
read_text (const std::string &path)
{
  g_autofree gchar *contents = NULL;
  EXPECT_TRUE (g_file_get_contents (path.c_str (), &contents, NULL, NULL)) << path;
  return contents != NULL ? contents : "";
}

void
write_text (const std::string &path, const std::string &text)
{
  ASSERT_TRUE (g_file_set_contents (path.c_str (), text.data (), text.size (), NULL));
}

guint
file_mode (const std::string &path)
{
  struct stat status;
  EXPECT_EQ (stat (path.c_str (), &status), 0) << path;
  return status.st_mode & 0777;
}

/* A metadata file as the writer makes it, with one line's value replaced. */
std::string
metadata (const std::string &element = "", const std::string &value = "")
{
  std::vector<std::pair<std::string, std::string>> values = { { "format", "2" },
                                                              { "size", "10" },
                                                              { "number-of-files", "1" },
                                                              { "timestamp", "50" },
                                                              { "time_for_restoration", "0" },
                                                              { "protected", "false" } };
  std::string text = "<backup-metadata>\n";
  for (auto &[name, content] : values)
    text += "  <" + name + ">" + (name == element ? value : content) + "</" + name + ">\n";
  return text
         + "  <device-version>1.0</device-version>\n  <notes></notes>\n  <categories>\n"
           "    <contacts>\n      <size>10</size>\n      <number-of-files>1</number-of-files>\n"
           "    </contacts>\n  </categories>\n</backup-metadata>\n";
}

class BackupInfo : public testing::Test
{
protected:
  void SetUp () override
  {
    sf_log_start (2);
    gchar *path = g_dir_make_tmp ("backups-XXXXXX", NULL);
    ASSERT_NE (path, nullptr);
    directory_ = path;
    g_free (path);
  }

  void TearDown () override
  {
    std::filesystem::remove_all (directory_);
  }

  std::string path (const std::string &name) const
  {
    return directory_ + "/" + name;
  }

  /* A backup directory holding the given metadata text. */
  void make_backup (const std::string &name, const std::string &text)
  {
    ASSERT_EQ (g_mkdir (path (name).c_str (), 0700), 0);
    write_text (path (name) + "/backup.metadata", text);
  }

  SfBackupInfo *read_backup (const std::string &name)
  {
    g_autoptr (GFile) directory = g_file_new_for_path (path (name).c_str ());
    return sf_backup_info_new_from_directory (directory);
  }

  SfBackupInfo *new_info (const std::string &name, gint format = SF_BACKUP_INFO_FORMAT,
                          const gchar *device_version = "1.0", const gchar *notes = NULL)
  {
    g_autoptr (GFile) uri = g_file_new_for_path (path (name).c_str ());
    return sf_backup_info_new (uri, 1700000000, FALSE, "secret", device_version, notes, format, 0);
  }

  /* Writes a contacts backup with these notes and returns the notes of the one backup listed
   * then, or "<not listed>". */
  std::string listed_notes (const std::string &name, const gchar *notes)
  {
    g_autoptr (SfBackupInfo) info = new_info (name, SF_BACKUP_INFO_FORMAT, "1.0", notes);
    sf_backup_info_set_categories (info, SF_CATEGORY_CONTACTS);
    sf_backup_info_set_data_amount (info, SF_CATEGORY_CONTACTS, 10, 1);
    g_autoptr (GError) dir_error = sf_backup_info_create_dir (info);
    g_autoptr (GError) write_error = sf_backup_info_write_metadata (info);
    EXPECT_EQ (dir_error, nullptr);
    EXPECT_EQ (write_error, nullptr);
    g_autoptr (GFile) directory = g_file_new_for_path (directory_.c_str ());
    GList *listed = sf_backup_info_list_get (directory);
    std::string read = g_list_length (listed) == 1
                           ? sf_backup_info_get_notes ((SfBackupInfo *)listed->data)
                           : "<not listed>";
    sf_backup_info_list_free (listed);
    return read;
  }

  std::string directory_;
};

TEST_F (BackupInfo, NewBackupWritesTheExactMetadataText)
{
  g_autoptr (SfBackupInfo) info
      = new_info ("Backup0", 2, "1.2 <beta> & \"x\" 'y'", "Tom &amp; Jerry &lt;3");
  sf_backup_info_set_categories (info,
                                 SF_CATEGORY_CONTACTS | SF_CATEGORY_SETTINGS | SF_CATEGORY_OTHER);
  sf_backup_info_set_data_amount (info, SF_CATEGORY_SETTINGS, 50, 2);
  sf_backup_info_set_data_amount (info, SF_CATEGORY_CONTACTS, 1000, 3);
  sf_backup_info_set_data_amount (info, SF_CATEGORY_OTHER, 7, 1);
  sf_backup_info_set_time_for_restoration (info, 1700000100);
  ASSERT_EQ (sf_backup_info_create_dir (info), nullptr);
  EXPECT_EQ (file_mode (path ("Backup0")), 0700u);

  /* An old file of looser mode is replaced, and the new one is private. */
  write_text (path ("Backup0/backup.metadata"), "old");
  chmod (path ("Backup0/backup.metadata").c_str (), 0644);
  ASSERT_EQ (sf_backup_info_write_metadata (info), nullptr);
  EXPECT_EQ (read_text (path ("Backup0/backup.metadata")),
             "<backup-metadata>\n"
             "  <format>2</format>\n"
             "  <size>1057</size>\n"
             "  <number-of-files>6</number-of-files>\n"
             "  <timestamp>1700000000</timestamp>\n"
             "  <time_for_restoration>1700000100</time_for_restoration>  "
             "<protected>false</protected>\n"
             "  <device-version>1.2 &lt;beta&gt; &amp; &quot;x&quot; &apos;y&apos;"
             "</device-version>\n"
             "  <notes>Tom &amp; Jerry &lt;3</notes>\n"
             "  <categories>\n"
             "    <contacts>\n"
             "      <size>1000</size>\n"
             "      <number-of-files>3</number-of-files>\n"
             "    </contacts>\n"
             "    <settings>\n"
             "      <size>50</size>\n"
             "      <number-of-files>2</number-of-files>\n"
             "    </settings>\n"
             "  </categories>\n"
             "</backup-metadata>\n");
  EXPECT_EQ (file_mode (path ("Backup0/backup.metadata")), 0600u);

  g_autoptr (SfBackupInfo) read = read_backup ("Backup0");
  ASSERT_NE (read, nullptr);
  EXPECT_STREQ (sf_backup_info_get_name (read), "Backup0");
  EXPECT_EQ (sf_backup_info_get_timestamp (read), 1700000000);
  EXPECT_EQ (sf_backup_info_get_time_for_restoration (read), 1700000100);
  EXPECT_EQ (sf_backup_info_get_format (read), 2);
  EXPECT_FALSE (sf_backup_info_get_is_protected (read));
  EXPECT_EQ (sf_backup_info_get_password (read), nullptr);
  EXPECT_STREQ (sf_backup_info_get_device_version (read), "1.2 <beta> & \"x\" 'y'");
  EXPECT_STREQ (sf_backup_info_get_notes (read), "Tom & Jerry <3");
  EXPECT_EQ (sf_backup_info_get_categories (read), SF_CATEGORY_CONTACTS | SF_CATEGORY_SETTINGS);
  EXPECT_EQ (sf_backup_info_get_size_for_categories (read, SF_CATEGORY_ALL), 1050u);
  EXPECT_EQ (sf_backup_info_get_num_files_for_categories (read, SF_CATEGORY_ALL), 5u);
}

TEST_F (BackupInfo, OlderFormatsWriteTheirOwnCategoryRows)
{
  for (gint format : { 0, 1, 3 })
    {
      SCOPED_TRACE (format);
      g_autoptr (SfBackupInfo) info = new_info ("Old", format);
      sf_backup_info_set_categories (info, SF_CATEGORY_ALL);
      for (gint index = 0; index < SF_CATEGORY_COUNT; index++)
        sf_backup_info_set_data_amount (info, sf_category_from_index (index), 1, 1);
      ASSERT_EQ (sf_backup_info_create_dir (info), nullptr);
      ASSERT_EQ (sf_backup_info_write_metadata (info), nullptr);
      std::string text = read_text (path ("Old/backup.metadata"));
      std::string names;
      for (size_t at = text.find ("\n    <"); at != std::string::npos;
           at = text.find ("\n    <", at + 1))
        if (text[at + 6] != '/')
          names += text.substr (at + 6, text.find ('>', at) - at - 6) + " ";
      const gchar *expected[] = {
        "contacts emails documents media bookmarks settings applications other ",
        "comm_and_cal images_and_documents music_and_videos bookmarks settings applications "
        "other ",
        "",
        "",
      };
      EXPECT_EQ (names, expected[format]);
    }
}

TEST_F (BackupInfo, SizesAreWrittenAsSigned32BitsAndReadBackUnsigned)
{
  g_autoptr (SfBackupInfo) info = new_info ("Big");
  sf_backup_info_set_categories (info, SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS);
  sf_backup_info_set_data_amount (info, SF_CATEGORY_CONTACTS, 3000000000u, 1);
  sf_backup_info_set_data_amount (info, SF_CATEGORY_EMAILS, 4294967295u, 2);
  ASSERT_EQ (sf_backup_info_create_dir (info), nullptr);
  ASSERT_EQ (sf_backup_info_write_metadata (info), nullptr);
  std::string text = read_text (path ("Big/backup.metadata"));
  EXPECT_NE (text.find ("      <size>-1294967296</size>\n"), std::string::npos);
  EXPECT_NE (text.find ("      <size>-1</size>\n"), std::string::npos);

  g_autoptr (SfBackupInfo) read = read_backup ("Big");
  ASSERT_NE (read, nullptr);
  guint64 size = 0;
  guint32 files = 0;
  sf_backup_info_get_data_amount (read, SF_CATEGORY_CONTACTS, &size, &files);
  EXPECT_EQ (size, 3000000000u);
  EXPECT_EQ (files, 1u);
  sf_backup_info_get_data_amount (read, SF_CATEGORY_EMAILS, &size, &files);
  EXPECT_EQ (size, 4294967295u);
  EXPECT_EQ (sf_backup_info_get_size_for_categories (read, SF_CATEGORY_ALL), 7294967295u);

  /* Written unsigned by hand, the same; beyond 32 bits, a malformed amount. */
  make_backup ("Unsigned", "<backup-metadata><format>2</format><size>3000000000</size>"
                           "<categories><contacts><size>3000000000</size>"
                           "<number-of-files>1</number-of-files></contacts>"
                           "<emails><size>4294967296</size></emails></categories>"
                           "</backup-metadata>");
  g_autoptr (SfBackupInfo) unsigned_read = read_backup ("Unsigned");
  ASSERT_NE (unsigned_read, nullptr);
  EXPECT_EQ (sf_backup_info_get_size_for_categories (unsigned_read, SF_CATEGORY_CONTACTS),
             3000000000u);
  EXPECT_EQ (sf_backup_info_get_size_for_categories (unsigned_read, SF_CATEGORY_EMAILS), 0u);
}

TEST_F (BackupInfo, NotesWithWhatXmlCannotCarryStillGiveAListedBackup)
{
  EXPECT_EQ (listed_notes ("Noted", "bell\a tab\tline\nbad\xff &amp; end\x1b"),
             "bell tab\tline\nbad\xef\xbf\xbd & end");
}

/* The backup engine escapes the user's notes before the record writes them: they read back as
 * the user wrote them, less what XML cannot carry. */
TEST_F (BackupInfo, EscapedNotesReadBackAsWritten)
{
  g_autofree gchar *escaped = sf_backup_info_escape_text ("<a & \"b\" 'c'>\a\tline\nbad\xff");
  EXPECT_STREQ (escaped, "&lt;a &amp; &quot;b&quot; &apos;c&apos;&gt;\tline\nbad\xef\xbf\xbd");
  g_autofree gchar *empty = sf_backup_info_escape_text (NULL);
  EXPECT_STREQ (empty, "");

  EXPECT_EQ (listed_notes ("Escaped", escaped), "<a & \"b\" 'c'>\tline\nbad\xef\xbf\xbd");
}

TEST_F (BackupInfo, MalformedValuesHideTheBackup)
{
  LogCapture log;
  struct Case
  {
    const gchar *element;
    const gchar *value;
    const gchar *warning;
  } cases[] = {
    { "protected", "yes", "Invalid is-protected in metadata." },
    { "timestamp", "12 ", "Invalid timestamp in metadata." },
    { "time_for_restoration", "x", "Invalid timestamp in metadata." },
    { "format", "0", NULL },
    { "format", "99999999999", "Invalid format in metadata." },
    { "format", "", "Invalid format in metadata." },
    { "size", "1.5", "Invalid size in metadata." },
    { "number-of-files", "-", "Invalid number of files in metadata." },
  };
  for (const Case &bad : cases)
    {
      SCOPED_TRACE (std::string (bad.element) + "=" + bad.value);
      log.clear ();
      std::filesystem::remove_all (path ("Bad"));
      make_backup ("Bad", metadata (bad.element, bad.value));
      EXPECT_EQ (read_backup ("Bad"), nullptr);
      if (bad.warning != NULL)
        {
          EXPECT_TRUE (log.contains (bad.warning));
        }
      g_autoptr (GFile) root = g_file_new_for_path (directory_.c_str ());
      GList *list = sf_backup_info_list_get (root);
      EXPECT_EQ (list, nullptr);
      sf_backup_info_list_free (list);
    }

  std::filesystem::remove_all (path ("Bad"));
  make_backup ("Good", metadata ("timestamp", " 12"));
  g_autoptr (SfBackupInfo) good = read_backup ("Good");
  ASSERT_NE (good, nullptr);
  EXPECT_EQ (sf_backup_info_get_timestamp (good), 12);
}

TEST_F (BackupInfo, DamagedOrHostileFilesAreNotListed)
{
  LogCapture log;
  std::string valid = metadata ();
  std::string deep;
  for (gint level = 0; level < 100000; level++)
    deep += "<a>";
  for (gint level = 0; level < 100000; level++)
    deep += "</a>";
  std::string laughs = "<!DOCTYPE backup-metadata [<!ENTITY a \"aaaaaaaaaaaaaaaa\">"
                       "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
                       "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]>"
                       + metadata ("notes", "&c;");
  std::string non_utf8 = metadata ("device-version", "caf\xe9");
  std::vector<std::string> texts = {
    "",
    valid.substr (0, valid.size () / 2),
    "<other-root><format>2</format></other-root>",
    "<backup-metadata/>",
    "<backup-metadata><timestamp>5</timestamp></backup-metadata>",
    "<backup-metadata><format>2</format>" + deep + "</backup-metadata>",
    laughs,
    std::string (2 * 1024 * 1024, ' ') + valid,
  };
  for (size_t index = 0; index < texts.size (); index++)
    make_backup ("Damaged" + std::to_string (index), texts[index]);
  ASSERT_EQ (g_mkdir (path ("Empty").c_str (), 0700), 0);
  ASSERT_EQ (g_mkdir (path ("Folder").c_str (), 0700), 0);
  ASSERT_EQ (g_mkdir (path ("Folder/backup.metadata").c_str (), 0700), 0);
  write_text (path ("NotADirectory"), valid);

  g_autoptr (GFile) root = g_file_new_for_path (directory_.c_str ());
  GList *list = sf_backup_info_list_get (root);
  for (GList *item = list; item != NULL; item = item->next)
    ADD_FAILURE () << "listed " << sf_backup_info_get_name ((SfBackupInfo *)item->data);
  sf_backup_info_list_free (list);
  EXPECT_TRUE (log.contains ("Metadata file too large"));

  /* A stray Latin-1 byte is read as Latin-1: still text, never broken UTF-8. */
  make_backup ("Latin", non_utf8);
  g_autoptr (SfBackupInfo) latin = read_backup ("Latin");
  if (latin != NULL)
    {
      EXPECT_TRUE (g_utf8_validate (sf_backup_info_get_device_version (latin), -1, NULL));
    }
}

TEST_F (BackupInfo, FormatsAboveTwoAndBrokenCategoryBlocksAreStillListed)
{
  LogCapture log;
  std::string text = metadata ("format", "7");
  text.replace (text.find ("    <contacts>"), 0,
                "    <emails><number-of-files>4</number-of-files><size>12x</size>"
                "<number-of-files>9</number-of-files></emails>\n"
                "    <unknown/>\n");
  text.replace (text.find ("</categories>"), 0, "<bookmarks><size>3</size></bookmarks>");
  make_backup ("Future", text);
  g_autoptr (SfBackupInfo) info = read_backup ("Future");
  ASSERT_NE (info, nullptr);
  EXPECT_EQ (sf_backup_info_get_format (info), 7);
  EXPECT_TRUE (log.contains ("Invalid size in metadata."));
  EXPECT_TRUE (log.contains ("Invalid category"));
  EXPECT_EQ (sf_backup_info_get_categories (info),
             SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS | SF_CATEGORY_BOOKMARKS);
  guint64 size = 0;
  guint32 files = 0;
  /* The count before the malformed size is kept; the count after it is not read. */
  sf_backup_info_get_data_amount (info, SF_CATEGORY_EMAILS, &size, &files);
  EXPECT_EQ (size, 0u);
  EXPECT_EQ (files, 4u);
  sf_backup_info_get_data_amount (info, SF_CATEGORY_BOOKMARKS, &size, &files);
  EXPECT_EQ (size, 3u);
  EXPECT_EQ (files, 0u);
  sf_backup_info_get_data_amount (info, SF_CATEGORY_CONTACTS, &size, &files);
  EXPECT_EQ (size, 10u);
  EXPECT_EQ (files, 1u);
}

TEST_F (BackupInfo, ListsNewestFirstWithEqualTimesInReverseEnumerationOrder)
{
  make_backup ("Older", metadata ("timestamp", "100"));
  make_backup ("SameA", metadata ("timestamp", "300"));
  make_backup ("SameB", metadata ("timestamp", "300"));
  make_backup ("Newest", metadata ("timestamp", "400"));

  g_autoptr (GFile) root = g_file_new_for_path (directory_.c_str ());
  std::vector<std::string> enumerated;
  g_autoptr (GFileEnumerator) enumerator = g_file_enumerate_children (
      root, G_FILE_ATTRIBUTE_STANDARD_NAME, G_FILE_QUERY_INFO_NONE, NULL, NULL);
  GFileInfo *child = NULL;
  while (g_file_enumerator_iterate (enumerator, &child, NULL, NULL, NULL) && child)
    if (g_str_has_prefix (g_file_info_get_name (child), "Same"))
      enumerated.push_back (g_file_info_get_name (child));
  ASSERT_EQ (enumerated.size (), 2u);

  GList *list = sf_backup_info_list_get (root);
  std::vector<std::string> names;
  for (GList *item = list; item != NULL; item = item->next)
    names.push_back (sf_backup_info_get_name ((SfBackupInfo *)item->data));
  sf_backup_info_list_free (list);
  EXPECT_EQ (names, (std::vector<std::string>{ "Newest", enumerated[1], enumerated[0], "Older" }));

  g_autoptr (SfBackupInfo) by_name = sf_backup_info_list_get_by_name (root, "SameA");
  ASSERT_NE (by_name, nullptr);
  EXPECT_EQ (sf_backup_info_get_timestamp (by_name), 300);
  for (const gchar *name : { "Missing", "../Older", "..", ".", "", "Older/." })
    EXPECT_EQ (sf_backup_info_list_get_by_name (root, name), nullptr) << name;
}

TEST_F (BackupInfo, RemovingABackupStaysInsideItsDirectory)
{
  ASSERT_EQ (g_mkdir (path ("backups").c_str (), 0700), 0);
  ASSERT_EQ (g_mkdir (path ("outside").c_str (), 0700), 0);
  write_text (path ("outside/keep.txt"), "user data");
  g_autoptr (GFile) first_uri = g_file_new_for_path (path ("backups/First").c_str ());
  g_autoptr (GFile) second_uri = g_file_new_for_path (path ("backups/Second").c_str ());
  g_autoptr (SfBackupInfo) first = sf_backup_info_new (first_uri, 1, FALSE, NULL, NULL, NULL, 2, 0);
  g_autoptr (SfBackupInfo) second
      = sf_backup_info_new (second_uri, 2, FALSE, NULL, NULL, NULL, 2, 0);

  ASSERT_EQ (sf_backup_info_create_dir (first), nullptr);
  ASSERT_EQ (sf_backup_info_create_dir (first), nullptr);
  ASSERT_EQ (sf_backup_info_create_dir (second), nullptr);
  ASSERT_EQ (sf_backup_info_write_metadata (first), nullptr);
  ASSERT_EQ (g_mkdir_with_parents (path ("backups/First/deep/er").c_str (), 0700), 0);
  write_text (path ("backups/First/deep/er/file"), "x");
  write_text (path ("backups/First/contacts.zip"), "zip");
  ASSERT_EQ (symlink (path ("outside").c_str (), path ("backups/First/link").c_str ()), 0);

  g_autoptr (GError) error = sf_backup_info_remove_dir (first);
  EXPECT_EQ (error, nullptr);
  EXPECT_FALSE (g_file_test (path ("backups/First").c_str (), G_FILE_TEST_EXISTS));
  EXPECT_EQ (read_text (path ("outside/keep.txt")), "user data");
  EXPECT_TRUE (g_file_test (path ("backups").c_str (), G_FILE_TEST_IS_DIR));

  g_autoptr (GError) last_error = sf_backup_info_remove_dir (second);
  EXPECT_EQ (last_error, nullptr);
  EXPECT_FALSE (g_file_test (path ("backups").c_str (), G_FILE_TEST_EXISTS));

  /* A backup that is a link loses the link; the folder it leads to keeps everything. */
  ASSERT_EQ (g_mkdir (path ("backups").c_str (), 0700), 0);
  ASSERT_EQ (g_mkdir (path ("elsewhere").c_str (), 0700), 0);
  write_text (path ("elsewhere/contacts.zip"), "zip");
  write_text (path ("elsewhere/notes.txt"), "not a backup's");
  ASSERT_EQ (symlink (path ("elsewhere").c_str (), path ("backups/Linked").c_str ()), 0);
  g_autoptr (GFile) linked_uri = g_file_new_for_path (path ("backups/Linked").c_str ());
  g_autoptr (SfBackupInfo) linked
      = sf_backup_info_new (linked_uri, 3, FALSE, NULL, NULL, NULL, 2, 0);
  ASSERT_EQ (sf_backup_info_write_metadata (linked), nullptr);
  g_autoptr (GError) linked_error = sf_backup_info_remove_dir (linked);
  EXPECT_EQ (linked_error, nullptr);
  EXPECT_FALSE (g_file_test (path ("backups/Linked").c_str (), G_FILE_TEST_IS_SYMLINK));
  EXPECT_EQ (read_text (path ("elsewhere/contacts.zip")), "zip");
  EXPECT_EQ (read_text (path ("elsewhere/notes.txt")), "not a backup's");
  EXPECT_TRUE (g_file_test (path ("elsewhere/backup.metadata").c_str (), G_FILE_TEST_IS_REGULAR));

  write_text (path ("occupied"), "");
  g_autoptr (GFile) occupied_uri = g_file_new_for_path (path ("occupied").c_str ());
  g_autoptr (SfBackupInfo) occupied
      = sf_backup_info_new (occupied_uri, 1, FALSE, NULL, NULL, NULL, 2, 0);
  g_autoptr (GError) exists = sf_backup_info_create_dir (occupied);
  EXPECT_TRUE (g_error_matches (exists, G_IO_ERROR, G_IO_ERROR_EXISTS));
}

TEST_F (BackupInfo, FailedRewriteKeepsThePreviousMetadata)
{
  TmpfsMount tmpfs ("1M");
  SKIP_UNLESS_MOUNTED (tmpfs);
  g_autoptr (GFile) uri = g_file_new_for_path ((tmpfs.path () + "/Full").c_str ());
  g_autoptr (SfBackupInfo) info = sf_backup_info_new (uri, 5, TRUE, NULL, NULL, "short", 2, 0);
  ASSERT_EQ (sf_backup_info_create_dir (info), nullptr);
  ASSERT_EQ (sf_backup_info_write_metadata (info), nullptr);
  std::string before = read_text (tmpfs.path () + "/Full/backup.metadata");

  /* Fill the file system; the write stops at its end. */
  FILE *filler = fopen ((tmpfs.path () + "/filler").c_str (), "w");
  ASSERT_NE (filler, nullptr);
  std::string block (4096, 'f');
  while (fwrite (block.data (), 1, block.size (), filler) == block.size () && fflush (filler) == 0)
    ;
  fclose (filler);
  std::string notes (512 * 1024, 'n');
  g_autoptr (SfBackupInfo) larger
      = sf_backup_info_new (uri, 6, TRUE, NULL, NULL, notes.c_str (), 2, 0);
  g_autoptr (GError) error = sf_backup_info_write_metadata (larger);
  EXPECT_TRUE (g_error_matches (error, G_IO_ERROR, G_IO_ERROR_NO_SPACE));
  EXPECT_EQ (read_text (tmpfs.path () + "/Full/backup.metadata"), before);
}

TEST_F (BackupInfo, RecordOperations)
{
  LogCapture log;
  g_autoptr (SfBackupInfo) info = new_info ("Record");
  EXPECT_STREQ (g_type_name (SF_TYPE_BACKUP_INFO), "SfBackupInfoType");
  SfBackupInfo *copy = (SfBackupInfo *)g_boxed_copy (SF_TYPE_BACKUP_INFO, info);
  EXPECT_EQ (copy, info);
  g_boxed_free (SF_TYPE_BACKUP_INFO, copy);

  EXPECT_STREQ (sf_backup_info_get_password (info), "secret");
  sf_backup_info_set_password (info, NULL);
  EXPECT_EQ (sf_backup_info_get_password (info), nullptr);

  sf_backup_info_set_data_amount (info, SF_CATEGORY_MEDIA, 1ull << 40, 7);
  sf_backup_info_set_data_amount (info, SF_CATEGORY_CONTACTS, 5, 1);
  sf_backup_info_set_data_amount (info, SF_CATEGORY_EMAILS, 6, 2);
  EXPECT_EQ (sf_backup_info_get_size_for_categories (info, SF_CATEGORY_ALL), (1ull << 40) + 11);
  EXPECT_EQ (
      sf_backup_info_get_num_files_for_categories (info, SF_CATEGORY_CONTACTS | SF_CATEGORY_MEDIA),
      8u);
  sf_backup_info_reset_categories (info, SF_CATEGORY_MEDIA | SF_CATEGORY_EMAILS);
  EXPECT_EQ (sf_backup_info_get_size_for_categories (info, SF_CATEGORY_ALL), 5u);

  sf_backup_info_set_data_amount (info, SF_CATEGORY_ALL, 1, 1);
  EXPECT_TRUE (log.contains ("category != SF_CATEGORY_ALL"));
  EXPECT_EQ (sf_backup_info_get_size_for_categories (info, SF_CATEGORY_ALL), 5u);

  g_autofree gchar *archive
      = sf_backup_info_get_category_archive_path (info, SF_CATEGORY_TAGGED_FILES);
  EXPECT_EQ (archive, path ("Record/tagged_files.zip"));

  log.clear ();
  g_autoptr (GError) error = sf_backup_info_write_metadata (NULL);
  EXPECT_TRUE (g_error_matches (error, G_FILE_ERROR, G_FILE_ERROR_INVAL));
  EXPECT_TRUE (g_str_has_prefix (error->message, "Invalid argument: "));
  EXPECT_TRUE (log.contains ("'FALSE' failed"));
  EXPECT_EQ (sf_backup_info_get_timestamp (NULL), 0);
  EXPECT_TRUE (log.contains ("info != NULL"));
}
} // namespace
