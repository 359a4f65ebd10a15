#include "archiver-test-support.h"
#include "crafted-archive.h"

#include "gsf-input-crypt.h"
#include "sf-zip-writer.h"
#include "tmpfs-mount.h"

#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-output-stdio.h>
#include <unistd.h>

#include <tuple>

namespace
{
struct ToolRun
{
  int status = -1;
  std::string out;
  std::string err;
};

void
flip_middle_byte (const std::string &path)
{
  gchar *bytes = NULL;
  gsize length = 0;
  ASSERT_TRUE (g_file_get_contents (path.c_str (), &bytes, &length, NULL));
  bytes[length / 2] ^= 0x01;
  ASSERT_TRUE (g_file_set_contents (path.c_str (), bytes, length, NULL));
  g_free (bytes);
}

/* Files below dir, keyed by their path below it. */
std::map<std::string, FileState>
below (const std::string &dir)
{
  std::map<std::string, FileState> files;
  for (const auto &[path, state] : snapshot (dir))
    files[path.substr (dir.size ())] = state;
  return files;
}

class SafeholdArchive : public ArchiverTest
{
protected:
  /* Runs the tool in UTC with the standard input off any terminal. */
  ToolRun tool (const std::vector<std::string> &arguments)
  {
    std::vector<gchar *> argv = { (gchar *)SAFEHOLD_BINARY_DIR "/engine/tools/safehold-archive" };
    for (const std::string &argument : arguments)
      argv.push_back ((gchar *)argument.c_str ());
    argv.push_back (NULL);
    g_auto (GStrv) env = g_environ_setenv (g_get_environ (), "TZ", "UTC", TRUE);
    ToolRun run;
    gchar *out = NULL, *err = NULL;
    gint wait_status = 0;
    EXPECT_TRUE (g_spawn_sync (NULL, argv.data (), env, G_SPAWN_DEFAULT, NULL, NULL, &out, &err,
                               &wait_status, NULL));
    run.status = WIFEXITED (wait_status) ? WEXITSTATUS (wait_status) : -1;
    run.out = out != NULL ? out : "";
    run.err = err != NULL ? err : "";
    g_free (out);
    g_free (err);
    return run;
  }

  /* A plain backup "plain" of contacts and e-mail, and a protected one "locked", an hour newer, of
   * bookmarks; every backed-up file in files_. */
  void make_backups ()
  {
    write_file (data_ + "/contacts/a/b/c.vcf", "BEGIN:VCARD\nEND:VCARD\n", 0600, 946684800);
    write_file (data_ + "/contacts/empty", "", 0640, 1000000000);
    write_file (data_ + "/mail/inbox/1.eml", random_bytes (3 * 1024 * 1024, 5), 0755, 1200000000);
    write_file (data_ + "/bookmarks/b.xml", "<bookmarks/>", 0604, 1300000000);
    files_ = snapshot (data_);
    make_backup ("plain", SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS, nullptr, 1700000000);
    make_backup ("locked", SF_CATEGORY_BOOKMARKS, "secret", 1700003600);
    g_mkdir_with_parents ((backups_ + "/junk").c_str (), 0755);
    write_file (backups_ + "/junk/readme", "not a backup");
  }

  void make_backup (const std::string &name, guint categories, const char *password,
                    gint32 timestamp)
  {
    g_autoptr (SfBackupInfo) info = new_info (name, categories, password);
    sf_backup_info_set_timestamp (info, timestamp);
    Outcome outcome;
    backup (info, &outcome, password);
    ASSERT_TRUE (outcome.finished) << (outcome.error ? outcome.error->message : "");
  }

  SfBackupInfo *read_info (const std::string &name)
  {
    g_autoptr (GFile) dir = g_file_new_for_path ((backups_ + "/" + name).c_str ());
    return sf_backup_info_new_from_directory (dir);
  }

  std::string password_file (const std::string &password)
  {
    std::string path = out_ + "/password-" + password;
    write_file (path, password + "\n", 0600);
    return path;
  }

  /* A wrong password for "locked" that the cipher's padding check lets through, or refuses.
   * About one key in 256 passes the check, so 20000 tries miss one only by a vanishing chance. */
  std::string wrong_password (bool passes_padding)
  {
    for (int attempt = 0; attempt < 20000; attempt++)
      {
        std::string guess = "guess" + std::to_string (attempt);
        GsfInput *file = gsf_input_stdio_new ((backups_ + "/locked/bookmarks.zip").c_str (), NULL);
        GsfInput *plain = gsf_input_crypt_new (file, guess.c_str (), NULL);
        g_object_unref (file);
        if (plain != NULL)
          g_object_unref (plain);
        if ((plain != NULL) == passes_padding)
          return guess;
      }
    ADD_FAILURE () << "no such password";
    return "";
  }

  /* The backed-up files whose path has part in it, keyed as they are below a DEST. */
  std::map<std::string, FileState> expected (const std::vector<std::string> &parts)
  {
    std::map<std::string, FileState> files;
    for (const auto &[path, state] : files_)
      for (const std::string &part : parts)
        if (path.find (part) != std::string::npos)
          files[path] = state;
    return files;
  }

  void TearDown () override
  {
    g_autofree gchar *command = g_strdup_printf ("rm -rf '%s'", out_.c_str ());
    EXPECT_EQ (system (command), 0);
    ArchiverTest::TearDown ();
  }

  std::map<std::string, FileState> files_;
  /* Destinations and password files, emptied after every test. */
  const std::string out_ = std::string (g_get_home_dir ()) + "/out";
};

TEST_F (SafeholdArchive, ListAndShowPrintTheMetadata)
{
  make_backups ();
  g_autoptr (SfBackupInfo) plain = read_info ("plain");
  ASSERT_NE (plain, nullptr);
  sf_backup_info_set_time_for_restoration (plain, 1700007200);
  ASSERT_EQ (sf_backup_info_write_metadata (plain), nullptr);
  g_autofree gchar *plain_size = g_format_size (
      sf_backup_info_get_size_for_categories (plain, SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS));

  ToolRun list = tool ({ "list", backups_ });
  EXPECT_EQ (list.status, 0) << list.err;
  g_auto (GStrv) lines = g_strsplit (list.out.c_str (), "\n", -1);
  ASSERT_EQ (g_strv_length (lines), 3u) << list.out;
  EXPECT_TRUE (g_str_has_prefix (lines[0], "locked")) << list.out;
  EXPECT_NE (strstr (lines[0], "2023-11-14 23:13"), nullptr) << lines[0];
  EXPECT_NE (strstr (lines[0], " 1 file "), nullptr) << lines[0];
  EXPECT_NE (strstr (lines[0], "bookmarks  protected"), nullptr) << lines[0];
  EXPECT_TRUE (g_str_has_prefix (lines[1], "plain ")) << list.out;
  EXPECT_NE (strstr (lines[1], "2023-11-14 22:13"), nullptr) << lines[1];
  EXPECT_NE (strstr (lines[1], plain_size), nullptr) << lines[1];
  EXPECT_NE (strstr (lines[1], " 3 files  contacts,emails"), nullptr) << lines[1];
  EXPECT_EQ (strstr (lines[1], "protected"), nullptr) << lines[1];
  EXPECT_EQ (list.out.find ("junk"), std::string::npos);

  ToolRun show = tool ({ "show", backups_ + "/plain" });
  EXPECT_EQ (show.status, 0) << show.err;
  guint64 mail_size = 0;
  guint32 mail_files = 0;
  sf_backup_info_get_data_amount (plain, SF_CATEGORY_EMAILS, &mail_size, &mail_files);
  EXPECT_EQ (mail_files, 1u);
  for (const std::string &line :
       { std::string ("Format:         2"), std::string ("Time:           2023-11-14 22:13"),
         std::string ("Last restored:  2023-11-15 00:13"), std::string ("Device version: 1.0"),
         std::string ("Protected:      no"), std::string ("Notes:          notes"),
         std::string ("1 file   (") + std::to_string (mail_size) + " bytes)" })
    EXPECT_NE (show.out.find (line), std::string::npos) << line << "\n" << show.out;
  EXPECT_NE (show.out.find ("  contacts "), std::string::npos) << show.out;
  EXPECT_NE (show.out.find (std::string ("Total:          ") + plain_size + " in 3 files\n"),
             std::string::npos)
      << show.out;
  ToolRun locked = tool ({ "show", backups_ + "/locked" });
  EXPECT_NE (locked.out.find ("Protected:      yes"), std::string::npos);
  EXPECT_NE (locked.out.find (" in 1 file\n"), std::string::npos) << locked.out;

  EXPECT_EQ (tool ({ "show", backups_ + "/junk" }).status, 2);
  EXPECT_EQ (tool ({ "list", out_ + "/nowhere" }).status, 2);
  EXPECT_EQ (tool ({ "shuffle" }).status, 2);
}

TEST_F (SafeholdArchive, VerifyTellsIntactWrongPasswordAndCorrupt)
{
  make_backups ();
  ToolRun good = tool ({ "verify", backups_ + "/plain" });
  EXPECT_EQ (good.status, 0) << good.err;
  EXPECT_EQ (good.out, "contacts: ok\nemails: ok\n");

  ToolRun locked
      = tool ({ "verify", backups_ + "/locked", "--password-file", password_file ("secret") });
  EXPECT_EQ (locked.status, 0) << locked.err;
  EXPECT_EQ (locked.out, "bookmarks: ok\n");
  /* Wrong passwords: one that the cipher's padding check refuses, and one it lets through. */
  for (const std::string &guess : { wrong_password (false), wrong_password (true) })
    {
      ToolRun wrong
          = tool ({ "verify", backups_ + "/locked", "--password-file", password_file (guess) });
      EXPECT_EQ (wrong.status, 3) << guess;
      EXPECT_EQ (wrong.out, "bookmarks: wrong password\n") << guess;
    }
  ToolRun none = tool ({ "verify", backups_ + "/locked" });
  EXPECT_EQ (none.status, 3);
  EXPECT_NE (none.err.find ("--password-file"), std::string::npos) << none.err;

  flip_middle_byte (backups_ + "/plain/emails.zip");
  ToolRun corrupt = tool ({ "verify", backups_ + "/plain", "--quiet" });
  EXPECT_EQ (corrupt.status, 1);
  EXPECT_TRUE (g_str_has_prefix (corrupt.out.c_str (), "contacts: ok\nemails: corrupt ("))
      << corrupt.out;
}

TEST_F (SafeholdArchive, ExtractReproducesFilesAndKeepsExistingOnes)
{
  make_backups ();
  std::string dest = out_ + "/dest";
  ToolRun plain = tool ({ "extract", backups_ + "/plain", dest });
  EXPECT_EQ (plain.status, 0) << plain.err;
  EXPECT_EQ (plain.out, "3 files extracted to " + dest + "\n");
  EXPECT_EQ (below (dest), expected ({ "/contacts/", "/mail/" }));

  ToolRun locked = tool (
      { "extract", backups_ + "/locked", dest, "--password-file", password_file ("secret") });
  EXPECT_EQ (locked.status, 0) << locked.err;
  EXPECT_EQ (below (dest), files_);

  std::string only = out_ + "/only-contacts";
  EXPECT_EQ (tool ({ "extract", backups_ + "/plain", only, "-c", "contacts", "-q" }).status, 0);
  EXPECT_EQ (below (only), expected ({ "/contacts/" }));
  EXPECT_EQ (tool ({ "extract", backups_ + "/plain", only, "-c", "bookmarks" }).status, 2);

  /* An existing file stays unless --overwrite is given. */
  std::string card = dest + data_ + "/contacts/a/b/c.vcf";
  write_file (card, "edited since", 0600);
  /* The other contact is gone: one file extracted, one kept. */
  ASSERT_EQ (g_remove ((dest + data_ + "/contacts/empty").c_str ()), 0);
  ToolRun again = tool ({ "extract", backups_ + "/plain", dest, "--category", "contacts" });
  EXPECT_EQ (again.status, 1);
  EXPECT_NE (again.err.find (card + ": not extracted: it exists; give --overwrite"),
             std::string::npos)
      << again.err;
  EXPECT_EQ (again.out, "1 file extracted to " + dest
                            + "; 1 existing file kept (give --overwrite to replace it)\n");
  EXPECT_EQ (below (dest).at (data_ + "/contacts/a/b/c.vcf").content, "edited since");
  ToolRun replace = tool ({ "extract", backups_ + "/plain", dest, "--overwrite" });
  EXPECT_EQ (replace.status, 0) << replace.err;
  EXPECT_EQ (below (dest), files_) << "no temporary files are left either";
}

TEST_F (SafeholdArchive, ExtractOfADamagedArchiveLeavesNoHalfWrittenFile)
{
  make_backups ();
  flip_middle_byte (backups_ + "/plain/emails.zip");
  std::string dest = out_ + "/dest";
  ToolRun run = tool ({ "extract", backups_ + "/plain", dest });
  EXPECT_EQ (run.status, 1);
  EXPECT_NE (
      run.err.find (dest + data_ + "/mail/inbox/1.eml: not extracted: the archive is damaged"),
      std::string::npos)
      << run.err;
  EXPECT_EQ (below (dest), expected ({ "/contacts/" }));
}

TEST_F (SafeholdArchive, ExtractOntoAFullDiskStopsAndLeavesNoPartialFile)
{
  TmpfsMount tmpfs ("1M");
  SKIP_UNLESS_MOUNTED (tmpfs);
  make_backups ();
  ToolRun run = tool ({ "extract", backups_ + "/plain", tmpfs.path () });
  EXPECT_EQ (run.status, 4);
  EXPECT_NE (run.err.find (tmpfs.path () + " is full"), std::string::npos) << run.err;
  EXPECT_NE (run.err.find (data_ + "/mail/inbox/1.eml: could not write it: No space left"),
             std::string::npos)
      << run.err;
  EXPECT_EQ (below (tmpfs.path ()), expected ({ "/contacts/" }));
}

TEST_F (SafeholdArchive, ExtractDoesNotFollowLinksBelowDest)
{
  make_backups ();
  std::string dest = out_ + "/linked";
  std::string outside = out_ + "/outside";
  g_mkdir_with_parents (outside.c_str (), 0755);
  /* The first folder of every file's path leads elsewhere. */
  std::string first = data_.substr (0, data_.find ('/', 1));
  g_mkdir_with_parents (dest.c_str (), 0755);
  ASSERT_EQ (symlink (outside.c_str (), (dest + first).c_str ()), 0);

  ToolRun run = tool ({ "extract", backups_ + "/plain", dest });
  EXPECT_EQ (run.status, 1);
  EXPECT_NE (run.err.find ("symbolic link"), std::string::npos) << run.err;
  EXPECT_TRUE (snapshot (outside).empty ());
}

TEST_F (SafeholdArchive, ExtractRefusesEntriesThatLeadOutsideDest)
{
  std::string dir = backups_ + "/crafted";
  g_mkdir_with_parents (dir.c_str (), 0700);
  GsfOutput *sink = gsf_output_stdio_new ((dir + "/contacts.zip").c_str (), NULL);
  ASSERT_NE (sink, nullptr);
  SfZipWriter *writer = sf_zip_writer_new (sink, NULL);
  for (const char *name : { "Root/../../escape-1", "Root/a/../../../escape-2", "Root/b//escape-3",
                            "Other/escape-4", "Root/ok/file.txt" })
    {
      ASSERT_TRUE (sf_zip_writer_begin_file (writer, name, 0644, 1000000000, 4, NULL));
      ASSERT_TRUE (sf_zip_writer_write (writer, "data", 4, NULL));
      ASSERT_TRUE (sf_zip_writer_end_file (writer, NULL));
    }
  ASSERT_TRUE (sf_zip_writer_close (writer, NULL));
  sf_zip_writer_free (writer);
  gsf_output_close (sink);
  g_object_unref (sink);
  g_autoptr (GFile) file = g_file_new_for_path (dir.c_str ());
  g_autoptr (SfBackupInfo) info = sf_backup_info_new (file, 1700000000, FALSE, NULL, "1.0", "",
                                                      SF_BACKUP_INFO_FORMAT, SF_CATEGORY_CONTACTS);
  sf_backup_info_set_data_amount (info, SF_CATEGORY_CONTACTS, 20, 5);
  ASSERT_EQ (sf_backup_info_write_metadata (info), nullptr);

  std::string dest = out_ + "/deep/down/dest";
  ToolRun run = tool ({ "extract", dir, dest });
  EXPECT_EQ (run.status, 1);
  for (const char *name :
       { "Root/../../escape-1", "Root/a/../../../escape-2", "Root/b//escape-3", "Other/escape-4" })
    EXPECT_NE (run.err.find (std::string ("entry \"") + name + "\" refused"), std::string::npos)
        << name << "\n"
        << run.err;
  for (const auto &[path, state] : snapshot (home_))
    EXPECT_EQ (path.find ("escape"), std::string::npos) << path;
  EXPECT_EQ (below (dest).size (), 1u);
  EXPECT_EQ (below (dest).at ("/ok/file.txt").content, "data");
}
} // namespace

namespace
{
TEST_F (SafeholdArchive, DamagedEntriesAreSkippedAndTheRestExtracted)
{
  std::vector<CraftedEntry> entries;
  for (int i = 0; i < 4; i++)
    entries.push_back ({ "Root/c" + std::to_string (i) + ".vcf", random_bytes (20000, i) });
  CraftedArchive bad_checksum (entries);
  bad_checksum.damage_checksum (1);
  CraftedArchive bad_name (entries);
  bad_name.break_name (0, 6);
  for (const auto &[name, archive, damaged] :
       { std::tuple ("bad-checksum", &bad_checksum, 1), std::tuple ("bad-name", &bad_name, 0) })
    {
      g_autoptr (SfBackupInfo) info = new_info (name, SF_CATEGORY_CONTACTS);
      archive->save (info, SF_CATEGORY_CONTACTS, 4);
      std::string dest = out_ + "/" + name;
      ToolRun run = tool ({ "extract", backups_ + "/" + name, dest });
      EXPECT_EQ (run.status, 1) << name;
      EXPECT_NE (run.err.find ("not extracted"), std::string::npos) << run.err;
      EXPECT_EQ (run.out, "3 files extracted to " + dest
                              + "; 1 file not extracted (see the messages above)\n");
      std::map<std::string, FileState> extracted = below (dest);
      EXPECT_EQ (extracted.size (), 3u) << name;
      for (int i = 0; i < 4; i++)
        if (i != damaged)
          {
            EXPECT_EQ (extracted["/c" + std::to_string (i) + ".vcf"].content, entries[i].content)
                << name << " " << i;
          }

      ToolRun verify = tool ({ "verify", backups_ + "/" + name, "-q" });
      EXPECT_EQ (verify.status, 1) << name;
      EXPECT_TRUE (g_str_has_prefix (verify.out.c_str (), "contacts: corrupt (")) << verify.out;
    }
}

TEST_F (SafeholdArchive, OversizedAndLinkEntriesAreNotWritten)
{
  CraftedArchive archive ({ { "Root/bomb.bin", std::string (64 << 20, '\0') },
                            { "Root/link", "/etc/passwd" },
                            { "Root/fine.txt", "fine" } });
  archive.declare_size (0, 100);
  archive.make_link (1);
  g_autoptr (SfBackupInfo) info = new_info ("crafted", SF_CATEGORY_CONTACTS);
  archive.save (info, SF_CATEGORY_CONTACTS, 3);
  std::string dest = out_ + "/dest";
  ToolRun run = tool ({ "extract", backups_ + "/crafted", dest, "-q" });
  EXPECT_EQ (run.status, 1);
  EXPECT_NE (run.err.find ("/bomb.bin: not extracted: the archive is damaged"), std::string::npos)
      << run.err;
  EXPECT_NE (run.err.find ("\"Root/link\" skipped: it is a symbolic link"), std::string::npos)
      << run.err;
  std::map<std::string, FileState> extracted = below (dest);
  EXPECT_EQ (extracted.size (), 1u) << "neither the bomb, nor a temporary file, nor the link";
  EXPECT_EQ (extracted["/fine.txt"].content, "fine");
  struct stat link;
  EXPECT_NE (lstat ((dest + "/link").c_str (), &link), 0);
}

TEST_F (SafeholdArchive, DamagedCipherLengthsAndWrongPasswordsLeaveDestAlone)
{
  make_backups ();
  std::string dest = out_ + "/dest";
  for (const std::string &guess : { wrong_password (false), wrong_password (true) })
    {
      ToolRun wrong = tool (
          { "extract", backups_ + "/locked", dest, "--password-file", password_file (guess) });
      EXPECT_EQ (wrong.status, 3) << guess;
      EXPECT_NE (wrong.err.find ("wrong password"), std::string::npos) << wrong.err;
      EXPECT_FALSE (exists (dest)) << guess;
    }

  std::string archive = backups_ + "/locked/bookmarks.zip";
  gchar *bytes = NULL;
  gsize length = 0;
  ASSERT_TRUE (g_file_get_contents (archive.c_str (), &bytes, &length, NULL));
  std::string whole (bytes, length);
  g_free (bytes);
  for (const std::string &cut : { whole.substr (0, whole.size () - 1), whole.substr (0, 16) })
    {
      ASSERT_TRUE (g_file_set_contents (archive.c_str (), cut.data (), cut.size (), NULL));
      ToolRun verify
          = tool ({ "verify", backups_ + "/locked", "--password-file", password_file ("secret") });
      EXPECT_EQ (verify.status, 1) << cut.size ();
      EXPECT_TRUE (g_str_has_prefix (verify.out.c_str (), "bookmarks: corrupt (")) << verify.out;
      ToolRun extract = tool (
          { "extract", backups_ + "/locked", dest, "--password-file", password_file ("secret") });
      EXPECT_EQ (extract.status, 1) << cut.size ();
      EXPECT_NE (extract.err.find ("damaged"), std::string::npos) << extract.err;
    }
}

TEST_F (SafeholdArchive, NamesFromTheCardReachTheTerminalEscaped)
{
  std::string name = "evil\x1b[2J";
  CraftedArchive archive ({ { "Other/\x1b]0;title\x07", "x" }, { "Root/ok.txt", "ok" } });
  g_autoptr (SfBackupInfo) info = new_info (name, SF_CATEGORY_CONTACTS);
  archive.save (info, SF_CATEGORY_CONTACTS, 2);

  ToolRun list = tool ({ "list", backups_ });
  EXPECT_NE (list.out.find ("evil\\x1b[2J"), std::string::npos) << list.out;
  ToolRun extract = tool ({ "extract", backups_ + "/" + name, out_ + "/dest", "-q" });
  EXPECT_EQ (extract.status, 1);
  EXPECT_NE (extract.err.find ("Other/\\x1b]0;title\\x07"), std::string::npos) << extract.err;
  for (const ToolRun &run : { list, extract })
    {
      EXPECT_EQ (run.out.find ('\x1b'), std::string::npos) << run.out;
      EXPECT_EQ (run.err.find ('\x1b'), std::string::npos) << run.err;
      EXPECT_EQ (run.err.find ('\x07'), std::string::npos) << run.err;
    }
}
} // namespace

/* Backups written by libarchive's writer, kept in the source tree: contacts and e-mail plain,
 * bookmarks and contacts protected with "secret". Each file's key is its path below the home of
 * the run that wrote them. */
TEST_F (SafeholdArchive, EarlierBackupsStillListVerifyAndExtract)
{
  const std::string samples = SAFEHOLD_SOURCE_DIR "/engine/tests/samples";
  g_mkdir_with_parents (backups_.c_str (), 0755);
  std::string copy = "cp -r '" + samples + "/plain' '" + samples + "/locked' '" + backups_ + "/'";
  ASSERT_EQ (system (copy.c_str ()), 0);

  ToolRun list = tool ({ "list", backups_ });
  EXPECT_EQ (list.status, 0) << list.err;
  EXPECT_NE (list.out.find (" 4 files  contacts,emails"), std::string::npos) << list.out;
  EXPECT_NE (list.out.find (" 5 files  contacts,bookmarks  protected"), std::string::npos)
      << list.out;

  EXPECT_EQ (tool ({ "verify", backups_ + "/plain" }).out, "contacts: ok\nemails: ok\n");
  std::string secret = password_file ("secret");
  EXPECT_EQ (tool ({ "verify", backups_ + "/locked", "--password-file", secret }).out,
             "contacts: ok\nbookmarks: ok\n");

  std::string dest = out_ + "/dest";
  EXPECT_EQ (tool ({ "extract", backups_ + "/plain", dest }).status, 0);
  EXPECT_EQ (
      tool ({ "extract", backups_ + "/locked", dest, "--password-file", secret, "--overwrite" })
          .status,
      0);
  std::map<std::string, FileState> files;
  for (const auto &[path, state] : below (dest))
    files[path.substr (path.find ("/home/data/") + 10)] = state;
  const std::map<std::string, FileState> expected = {
    { "/contacts/a/b/c.vcf", { "BEGIN:VCARD\nEND:VCARD\n", 0600, 946684800 } },
    { "/contacts/empty", { "", 0640, 1000000000 } },
    { "/contacts/Grüße €.txt", { "text\nline two\n", 0755, 1234567890 } },
    { "/mail/inbox/1.eml", { random_bytes (80 * 1024, 5), 0644, 1200000000 } },
    { "/bookmarks/b.xml", { "<bookmarks/>", 0604, 1300000000 } },
    { "/bookmarks/big.bin", { random_bytes (70 * 1024, 6), 0600, 1300000001 } },
  };
  EXPECT_EQ (files, expected);
}

/* Help and version on the standard output with success; a wrong command line on the standard
 * error, said once, with status 2. */
TEST_F (SafeholdArchive, HelpVersionAndUsageErrorsGoWhereTheyBelong)
{
  for (const char *help : { "--help", "-h", "help" })
    {
      ToolRun run = tool ({ help });
      EXPECT_EQ (run.status, 0) << help;
      EXPECT_TRUE (g_str_has_prefix (run.out.c_str (), "Usage: safehold-archive COMMAND"))
          << run.out;
      EXPECT_EQ (run.err, "") << help;
    }
  ToolRun extract_help = tool ({ "extract", "--help" });
  EXPECT_EQ (extract_help.status, 0);
  EXPECT_NE (extract_help.out.find ("--overwrite"), std::string::npos) << extract_help.out;
  EXPECT_EQ (extract_help.err, "");

  for (const char *version : { "--version", "-V" })
    {
      ToolRun run = tool ({ version });
      EXPECT_EQ (run.status, 0) << version;
      EXPECT_EQ (run.out, "safehold-archive " SAFEHOLD_VERSION "\n");
      EXPECT_EQ (run.err, "");
    }

  ToolRun nothing = tool ({});
  EXPECT_EQ (nothing.status, 2);
  EXPECT_EQ (nothing.out, "");
  EXPECT_TRUE (g_str_has_prefix (nothing.err.c_str (), "Usage: safehold-archive")) << nothing.err;

  ToolRun unknown = tool ({ "shuffle" });
  EXPECT_EQ (unknown.status, 2);
  EXPECT_EQ (unknown.out, "");
  std::string said = "unknown command \"shuffle\"";
  ASSERT_NE (unknown.err.find (said), std::string::npos) << unknown.err;
  EXPECT_EQ (unknown.err.find (said, unknown.err.find (said) + 1), std::string::npos)
      << unknown.err;

  for (const std::vector<std::string> &wrong :
       { std::vector<std::string>{ "list", "--shuffle" },
         std::vector<std::string>{ "extract", out_ + "/only-one-argument" } })
    {
      ToolRun run = tool (wrong);
      EXPECT_EQ (run.status, 2) << wrong[1];
      EXPECT_EQ (run.out, "") << wrong[1];
      EXPECT_NE (run.err.find ("Try \"safehold-archive " + wrong[0] + " --help\"."),
                 std::string::npos)
          << run.err;
    }
}

/* Every counted text the tools print (safehold-suite's through its counted()) is in the engine's
 * English catalogue with both its forms, so that a catalogue of another language can give each of
 * its own. */
TEST (ToolCatalogue, EveryCountedTextOfTheToolsIsInTheCatalogue)
{
  auto read = [] (const std::string &path) {
    g_autofree gchar *text = NULL;
    EXPECT_TRUE (g_file_get_contents (path.c_str (), &text, NULL, NULL)) << path;
    return std::string (text != NULL ? text : "");
  };
  std::string catalogue = read (SAFEHOLD_SOURCE_DIR "/data/po/en.po");
  g_autoptr (GRegex) call = g_regex_new ("(?:sf_i18n_translate_plural|counted)\\s*\\(\\s*(\"(?:[^"
                                         "\"\\\\]|\\\\.)*\")\\s*,\\s*(\"(?:[^\"\\\\]|\\\\.)*\")",
                                         G_REGEX_DEFAULT, G_REGEX_MATCH_DEFAULT, NULL);
  ASSERT_NE (call, nullptr);
  int found = 0;
  for (const char *source :
       { "/engine/tools/safehold-archive-extract.cpp", "/engine/tools/safehold-archive-list.cpp",
         "/ui/tools/safehold-suite.cpp" })
    {
      std::string code = read (std::string (SAFEHOLD_SOURCE_DIR) + source);
      g_autoptr (GMatchInfo) match = NULL;
      g_regex_match (call, code.c_str (), G_REGEX_MATCH_DEFAULT, &match);
      for (; g_match_info_matches (match); g_match_info_next (match, NULL))
        {
          g_autofree gchar *singular = g_match_info_fetch (match, 1);
          g_autofree gchar *plural = g_match_info_fetch (match, 2);
          std::string entry = std::string ("msgid ") + singular + "\nmsgid_plural " + plural + "\n";
          EXPECT_NE (catalogue.find (entry), std::string::npos) << source << ": " << entry;
          found++;
        }
    }
  EXPECT_GE (found, 9) << "the calls were not found";
}
