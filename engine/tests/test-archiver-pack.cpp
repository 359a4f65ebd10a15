#include "archiver-test-support.h"

#include "sf-error.h"
#include "sf-zip-reader.h"
#include "tmpfs-mount.h"

#include <gsf/gsf-input-stdio.h>
#include <atomic>
#include <set>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

/* The names of the entries of an unprotected archive, read by our own reader. */
std::vector<std::string>
entry_names (const std::string &archive)
{
  std::vector<std::string> names;
  GsfInput *input = gsf_input_stdio_new (archive.c_str (), NULL);
  if (input == NULL)
    return names;
  SfZipReader *reader = sf_zip_reader_new (input, NULL);
  g_object_unref (input);
  SfZipEntry entry;
  while (reader != NULL && sf_zip_reader_next_entry (reader, &entry, NULL))
    names.push_back (entry.name);
  if (reader != NULL)
    sf_zip_reader_free (reader);
  return names;
}

std::string
run_command (const std::string &command)
{
  g_autofree gchar *output = NULL;
  gint status = 0;
  g_spawn_command_line_sync (command.c_str (), &output, NULL, &status, NULL);
  return output != NULL ? output : "";
}

class Pack : public ArchiverTest
{
protected:
  /* Three categories with nested folders, an empty file, a 5 MB file, three modes and old times;
   * an excluded cache and a permanent file. */
  void make_tree ()
  {
    write_file (data_ + "/contacts/a/b/c.vcf", "BEGIN:VCARD\nEND:VCARD\n", 0600, 946684800);
    write_file (data_ + "/contacts/empty", "", 0644, 1200000000);
    write_file (data_ + "/contacts/big.bin", random_bytes (5 * 1024 * 1024, 7), 0755, 1300000000);
    write_file (data_ + "/mail/inbox/1.eml", std::string (20000, 'm'), 0644, 1400000000);
    write_file (data_ + "/mail/cache/tmp", "cached", 0644);
    write_file (data_ + "/settings/export/app.ini", "[app]\nkey=value\n", 0600, 1500000000);
    write_file (data_ + "/settings/prefs.db", "database", 0644, 1500000001);
  }

  /* The files a backup takes away, and those it must leave. */
  std::map<std::string, FileState> packed_files ()
  {
    std::map<std::string, FileState> files = snapshot (data_);
    files.erase (data_ + "/mail/cache/tmp");
    files.erase (data_ + "/settings/prefs.db");
    return files;
  }

  void round_trip (const char *password)
  {
    make_tree ();
    std::map<std::string, FileState> before = packed_files ();
    std::map<std::string, FileState> everything = snapshot (data_);
    const guint categories = SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS | SF_CATEGORY_SETTINGS;

    g_autoptr (SfBackupInfo) info = new_info ("Backup0", categories, password);
    Outcome backed_up;
    mode_t umask_before = umask (022);
    umask (umask_before);
    backup (info, &backed_up, password);
    mode_t umask_after = umask (umask_before);
    EXPECT_EQ (umask_after, umask_before) << "categories packed at once leave the umask alone";
    ASSERT_TRUE (backed_up.finished) << (backed_up.error ? backed_up.error->message : "");
    for (const auto &[path, state] : before)
      EXPECT_FALSE (exists (path)) << path << " was packed and should be gone";
    EXPECT_TRUE (exists (data_ + "/settings/prefs.db")) << "permanent files stay";
    EXPECT_TRUE (exists (data_ + "/mail/cache/tmp")) << "excluded files stay";
    EXPECT_TRUE (exists (backups_ + "/Backup0/backup.metadata"));

    g_autoptr (GFile) dir = g_file_new_for_path ((backups_ + "/Backup0").c_str ());
    g_autoptr (SfBackupInfo) written = sf_backup_info_new_from_directory (dir);
    ASSERT_NE (written, nullptr);
    EXPECT_EQ (sf_backup_info_get_categories (written), categories);
    EXPECT_EQ (sf_backup_info_get_num_files_for_categories (written, SF_CATEGORY_CONTACTS), 3u);
    EXPECT_EQ (sf_backup_info_get_num_files_for_categories (written, SF_CATEGORY_SETTINGS), 2u);

    Outcome restored;
    restore ("Backup0", categories, &restored, password);
    ASSERT_TRUE (restored.finished) << (restored.error ? restored.error->message : "");
    EXPECT_EQ (snapshot (data_), everything);
    EXPECT_FALSE (sf_restore_failure_has_failures (sf_backend_get_restore_failure (backend ())));
    EXPECT_EQ (sf_backend_get_written_categories (backend ()),
               SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS | SF_CATEGORY_SETTINGS);
  }
};
} // namespace

TEST_F (Pack, RoundTripKeepsContentModesAndTimes)
{
  round_trip (nullptr);

  /* A standard reader sees the same names, modes and times. */
  std::string archive = backups_ + "/Backup0/contacts.zip";
  std::string listing = run_command (
      "/usr/bin/python3 -c \"import sys, zipfile\n"
      "for i in zipfile.ZipFile(sys.argv[1]).infolist(): print(i.filename, oct(i.external_attr "
      ">> 16 & 0o777))\" "
      + archive);
  std::string prefix = "Root" + data_ + "/contacts/";
  EXPECT_NE (listing.find (prefix + "a/b/c.vcf 0o600"), std::string::npos) << listing;
  EXPECT_NE (listing.find (prefix + "big.bin 0o755"), std::string::npos) << listing;
  EXPECT_NE (listing.find (prefix + "empty 0o644"), std::string::npos) << listing;

  std::string extracted = make_temp_dir ("unzip-XXXXXX");
  EXPECT_EQ (run_command ("unzip -qq -o " + archive + " -d " + extracted), "");
  std::map<std::string, FileState> unzipped = snapshot (extracted + "/Root" + data_);
  ASSERT_EQ (unzipped.size (), 3u);
  FileState vcard = unzipped[extracted + "/Root" + data_ + "/contacts/a/b/c.vcf"];
  EXPECT_EQ (vcard.content, "BEGIN:VCARD\nEND:VCARD\n");
  EXPECT_EQ (vcard.mtime, 946684800);
  EXPECT_EQ (unzipped[extracted + "/Root" + data_ + "/contacts/big.bin"].content,
             random_bytes (5 * 1024 * 1024, 7));
  EXPECT_EQ (system (("rm -rf " + extracted).c_str ()), 0);
}

TEST_F (Pack, RoundTripWithPassword)
{
  round_trip ("s3cret pass");
  std::string head;
  g_autofree gchar *contents = NULL;
  ASSERT_TRUE (
      g_file_get_contents ((backups_ + "/Backup0/contacts.zip").c_str (), &contents, NULL, NULL));
  EXPECT_NE (std::string (contents, 2), "PK") << "a protected archive is not readable as ZIP";
}

TEST_F (Pack, CategoryWithoutFilesIsNotWritten)
{
  write_file (data_ + "/contacts/one.vcf", "x");
  g_autoptr (SfBackupInfo) info
      = new_info ("Backup0", SF_CATEGORY_CONTACTS | SF_CATEGORY_BOOKMARKS);
  Outcome outcome;
  backup (info, &outcome);
  ASSERT_TRUE (outcome.finished);
  EXPECT_TRUE (exists (backups_ + "/Backup0/contacts.zip"));
  EXPECT_FALSE (exists (backups_ + "/Backup0/bookmarks.zip"));

  g_autoptr (SfBackupInfo) empty = new_info ("Backup1", SF_CATEGORY_BOOKMARKS);
  Outcome nothing;
  backup (empty, &nothing);
  EXPECT_TRUE (nothing.finished) << "finished even when there was nothing to pack";
  EXPECT_FALSE (exists (backups_ + "/Backup1"));
}

/* Enough files in enough folders that the workers share their deletion: every packed file goes,
 * however the files fall to the workers, and the excluded and permanent ones stay. */
TEST_F (Pack, EveryPackedFileOfManyFoldersIsDeleted)
{
  make_tree ();
  for (const char *area : { "contacts", "mail" })
    for (int folder = 0; folder < 23; folder++)
      for (int file = 0; file < 29; file++)
        write_file (data_ + "/" + area + "/f" + std::to_string (folder) + "/"
                        + std::to_string (file) + ".txt",
                    std::string (file * 7, 'x'));
  std::map<std::string, FileState> before = packed_files ();
  ASSERT_GT (before.size (), 1300u);

  g_autoptr (SfBackupInfo) info
      = new_info ("Backup0", SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS | SF_CATEGORY_SETTINGS);
  Outcome outcome;
  backup (info, &outcome);
  ASSERT_TRUE (outcome.finished) << (outcome.error ? outcome.error->message : "");
  std::vector<std::string> left;
  for (const auto &[path, state] : before)
    if (exists (path))
      left.push_back (path);
  EXPECT_TRUE (left.empty ()) << left.size () << " packed files left, " << left.front ();
  EXPECT_TRUE (exists (data_ + "/settings/prefs.db"));
  EXPECT_TRUE (exists (data_ + "/mail/cache/tmp"));
  g_autoptr (GFile) dir = g_file_new_for_path ((backups_ + "/Backup0").c_str ());
  g_autoptr (SfBackupInfo) written = sf_backup_info_new_from_directory (dir);
  ASSERT_NE (written, nullptr);
  EXPECT_EQ (sf_backup_info_get_num_files_for_categories (written, SF_CATEGORY_CONTACTS),
             3u + 23 * 29);
}

TEST_F (Pack, FullCardLosesNothing)
{
  TmpfsMount card ("1M");
  SKIP_UNLESS_MOUNTED (card);
  write_file (data_ + "/contacts/a.vcf", "contact");
  write_file (data_ + "/mail/inbox/1.eml", "mail");
  write_file (data_ + "/settings/export/huge.bin", random_bytes (3 * 1024 * 1024, 3));
  std::map<std::string, FileState> before = snapshot (data_);

  g_autoptr (SfBackupInfo) info
      = new_info ("Backup0", SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS | SF_CATEGORY_SETTINGS,
                  nullptr, card.path ());
  Outcome outcome;
  backup (info, &outcome);
  ASSERT_NE (outcome.error, nullptr);
  EXPECT_TRUE (g_error_matches (outcome.error, SF_ERROR, SF_ERROR_BACKUP_NO_SPACE))
      << outcome.error->message;
  EXPECT_FALSE (exists (card.path () + "/Backup0"));
  EXPECT_EQ (snapshot (data_), before);
}

TEST_F (Pack, CancelInTheThirdCategoryKeepsTheFirstTwoAndEverySource)
{
  write_file (data_ + "/contacts/a.vcf", "contact");
  write_file (data_ + "/mail/inbox/1.eml", "mail");
  write_file (data_ + "/settings/export/huge.txt", random_letters (48 * 1024 * 1024, 5));
  std::map<std::string, FileState> before = snapshot (data_);

  g_autoptr (SfBackupInfo) info
      = new_info ("Backup0", SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS | SF_CATEGORY_SETTINGS);
  Outcome outcome;
  bool cancelled = false;
  backup (info, &outcome, nullptr, [&cancelled] (Outcome &progress) {
    if (!cancelled && progress.categories.back () == SF_CATEGORY_SETTINGS)
      cancelled = sf_backend_cancel (backend ());
  });
  ASSERT_TRUE (cancelled);
  EXPECT_TRUE (outcome.cancelled);
  EXPECT_TRUE (exists (backups_ + "/Backup0/contacts.zip"));
  EXPECT_TRUE (exists (backups_ + "/Backup0/emails.zip"));
  EXPECT_FALSE (exists (backups_ + "/Backup0/settings.zip"));
  g_autoptr (GFile) dir = g_file_new_for_path ((backups_ + "/Backup0").c_str ());
  g_autoptr (SfBackupInfo) kept = sf_backup_info_new_from_directory (dir);
  ASSERT_NE (kept, nullptr);
  EXPECT_EQ (sf_backup_info_get_categories (kept), SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS);
  EXPECT_EQ (snapshot (data_), before) << "a cancelled backup deletes no source file";
}

TEST_F (Pack, CategoriesFailingTogetherReportOneErrorAndDeleteNothing)
{
  write_file (data_ + "/contacts/a.vcf", "contact");
  write_file (data_ + "/mail/inbox/1.eml", "mail");
  write_file (data_ + "/bookmarks/b.html", "bookmark");
  std::map<std::string, FileState> before = snapshot (data_);
  /* Folders where the archives of contacts and e-mail go: both fail as they start. */
  g_mkdir_with_parents ((backups_ + "/Backup0/contacts.zip/x").c_str (), 0755);
  g_mkdir_with_parents ((backups_ + "/Backup0/emails.zip/x").c_str (), 0755);

  g_autoptr (SfBackupInfo) info
      = new_info ("Backup0", SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS | SF_CATEGORY_BOOKMARKS);
  Outcome outcome;
  backup (info, &outcome);
  ASSERT_NE (outcome.error, nullptr);
  EXPECT_EQ (outcome.errors, 1);
  EXPECT_FALSE (outcome.finished);
  EXPECT_FALSE (outcome.cancelled);
  EXPECT_EQ (outcome.error->domain, SF_ERROR) << outcome.error->message;
  EXPECT_FALSE (exists (backups_ + "/Backup0/bookmarks.zip"));
  EXPECT_FALSE (exists (backups_ + "/Backup0/backup.metadata"));
  EXPECT_EQ (snapshot (data_), before);
}

TEST_F (Pack, CancelWhileCategoriesArePackedTogetherListsOnlyWholeArchives)
{
  write_file (data_ + "/contacts/a.vcf", random_letters (24 * 1024 * 1024, 11));
  write_file (data_ + "/mail/inbox/1.eml", random_letters (24 * 1024 * 1024, 12));
  write_file (data_ + "/bookmarks/b.html", random_letters (24 * 1024 * 1024, 13));
  std::map<std::string, FileState> before = snapshot (data_);

  const guint categories = SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS | SF_CATEGORY_BOOKMARKS;
  g_autoptr (SfBackupInfo) info = new_info ("Backup0", categories);
  Outcome outcome;
  bool cancelled = false;
  /* Once two categories have reported work: both are under way where two workers run. */
  backup (info, &outcome, nullptr, [&cancelled] (Outcome &progress) {
    std::set<gint> seen (progress.categories.begin (), progress.categories.end ());
    if (!cancelled && seen.size () >= 2)
      cancelled = sf_backend_cancel (backend ());
  });
  ASSERT_TRUE (cancelled);
  EXPECT_TRUE (outcome.cancelled);
  EXPECT_EQ (outcome.error, nullptr);
  EXPECT_EQ (snapshot (data_), before) << "a cancelled backup deletes no source file";

  /* Whatever is left is listed and whole; nothing else is left. */
  g_autoptr (GFile) dir = g_file_new_for_path ((backups_ + "/Backup0").c_str ());
  g_autoptr (SfBackupInfo) kept = sf_backup_info_new_from_directory (dir);
  guint listed = kept != nullptr ? sf_backup_info_get_categories (kept) : 0u;
  EXPECT_NE (listed, categories) << "the cancel came before the end";
  for (SfCategory category : { SF_CATEGORY_CONTACTS, SF_CATEGORY_EMAILS, SF_CATEGORY_BOOKMARKS })
    {
      std::string archive = backups_ + "/Backup0/" + sf_category_to_string (category) + ".zip";
      EXPECT_EQ (exists (archive), (listed & category) != 0) << archive;
      if (listed & category)
        {
          g_autoptr (GError) error = NULL;
          EXPECT_TRUE (
              sf_archiver_zip_check_category (kept, category, nullptr, nullptr, nullptr, &error))
              << archive;
        }
    }
}

TEST_F (Pack, UnreadableFileIsNeitherPackedNorDeleted)
{
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP () << "ThreadSanitizer cannot follow a fork of a process with threads";
#endif
  g_autofree gchar *sandbox = g_path_get_dirname (home_.c_str ());
  g_chmod (sandbox, 0755);
  write_file (data_ + "/contacts/readable.vcf", "open", 0666);
  write_file (data_ + "/contacts/secret.vcf", "closed", 0000);
  g_chmod (data_.c_str (), 0777);
  g_chmod ((data_ + "/contacts").c_str (), 0777);
  g_mkdir_with_parents (backups_.c_str (), 0777);
  g_chmod (backups_.c_str (), 0777);

  /* Root reads everything; an ordinary user cannot read the secret. */
  pid_t child = fork ();
  ASSERT_GE (child, 0);
  if (child == 0)
    {
      if (setgid (65534) != 0 || setuid (65534) != 0)
        _exit (3);
      g_autoptr (SfBackupInfo) info = new_info ("Backup0", SF_CATEGORY_CONTACTS);
      Outcome outcome;
      backup (info, &outcome);
      _exit (outcome.finished ? 0 : 1);
    }
  int status = 0;
  ASSERT_EQ (waitpid (child, &status, 0), child);
  ASSERT_TRUE (WIFEXITED (status));
  if (WEXITSTATUS (status) == 3)
    GTEST_SKIP () << "cannot switch to an unprivileged user";
  ASSERT_EQ (WEXITSTATUS (status), 0);

  EXPECT_FALSE (exists (data_ + "/contacts/readable.vcf"));
  EXPECT_TRUE (exists (data_ + "/contacts/secret.vcf"));
  std::vector<std::string> names = entry_names (backups_ + "/Backup0/contacts.zip");
  ASSERT_EQ (names.size (), 1u);
  EXPECT_EQ (names[0], "Root" + data_ + "/contacts/readable.vcf");
}

/* A file that grows while it is read: its entry holds what was read, with matching size and
 * checksum (the read-back and our reader check both), and the file stays. */
TEST_F (Pack, FileGrowingWhileReadIsStoredAsReadAndKept)
{
  std::string path = data_ + "/contacts/growing.log";
  write_file (path, random_bytes (3 * 1024 * 1024, 9), 0644, 1300000000);
  std::atomic<bool> stop{ false };
  std::thread appender ([&path, &stop] {
    std::string block = random_bytes (64 * 1024, 10);
    FILE *file = fopen (path.c_str (), "ab");
    for (int written = 0; file != NULL && !stop && written < 256; written++)
      {
        fwrite (block.data (), 1, block.size (), file);
        fflush (file);
        g_usleep (2000);
      }
    if (file != NULL)
      fclose (file);
  });
  g_autoptr (SfBackupInfo) info = new_info ("Backup0", SF_CATEGORY_CONTACTS);
  Outcome outcome;
  backup (info, &outcome);
  stop = true;
  appender.join ();
  ASSERT_TRUE (outcome.finished) << (outcome.error ? outcome.error->message : "");
  ASSERT_TRUE (exists (path));
  std::string now = read_file (path);

  GsfInput *input = gsf_input_stdio_new ((backups_ + "/Backup0/contacts.zip").c_str (), NULL);
  ASSERT_NE (input, nullptr);
  g_autoptr (SfZipReader) reader = sf_zip_reader_new (input, NULL);
  g_object_unref (input);
  ASSERT_NE (reader, nullptr);
  SfZipEntry entry;
  g_autoptr (GError) error = NULL;
  ASSERT_TRUE (sf_zip_reader_next_entry (reader, &entry, &error));
  std::string stored;
  std::vector<char> buffer (64 * 1024);
  gssize got;
  while ((got = sf_zip_reader_read (reader, buffer.data (), buffer.size (), &error)) > 0)
    stored.append (buffer.data (), got);
  ASSERT_EQ (got, 0) << error->message;
  EXPECT_EQ (entry.size, (gint64)stored.size ());
  EXPECT_GE (stored.size (), 3u * 1024 * 1024);
  EXPECT_EQ (now.compare (0, stored.size (), stored), 0) << "the entry is what was read";
}
