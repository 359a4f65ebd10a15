#include "archiver-test-support.h"

#include "sf-archiver-zip-private.h"
#include "sf-error.h"

namespace
{
/* Bytes that deflate cannot shrink, so that most of an archive is entry data. */
std::string
noise (gsize size, guint32 seed)
{
  g_autoptr (GRand) rand = g_rand_new_with_seed (seed);
  std::string bytes (size, '\0');
  for (char &byte : bytes)
    byte = static_cast<char> (g_rand_int (rand));
  return bytes;
}

class Verify : public ArchiverTest, public ::testing::WithParamInterface<const char *>
{
protected:
  void TearDown () override
  {
    g_unsetenv ("SF_DAMAGE_ARCHIVE");
    ArchiverTest::TearDown ();
  }

  const char *password () const
  {
    return GetParam ();
  }

  /* Contacts and mail with names a careless comparison would trip over, and settings with a
   * permanent file. */
  void make_tree ()
  {
    write_file (data_ + "/contacts/a b/ä ö.vcf", "BEGIN:VCARD\nEND:VCARD\n");
    write_file (data_ + "/contacts/empty", "");
    write_file (data_ + "/mail/inbox/1.eml", noise (200 * 1024, 1));
    write_file (data_ + "/mail/inbox/2.eml", std::string (30000, 'm'));
    write_file (data_ + "/settings/export/app.ini", "[app]\nkey=value\n");
    write_file (data_ + "/settings/prefs.db", "database");
  }
};
} // namespace

/* The second archive is damaged after it was closed: the first was already complete, yet nothing
 * of any category may be deleted and no part of the backup may stay. */
TEST_P (Verify, DamagedArchiveFailsTheBackupAndDeletesNothing)
{
  make_tree ();
  std::map<std::string, FileState> before = snapshot (data_);
  g_setenv ("SF_DAMAGE_ARCHIVE", "emails", TRUE);

  g_autoptr (SfBackupInfo) info = new_info (
      "Backup0", SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS | SF_CATEGORY_SETTINGS, password ());
  Outcome outcome;
  backup (info, &outcome, password ());
  ASSERT_NE (outcome.error, nullptr);
  EXPECT_FALSE (outcome.finished);
  EXPECT_TRUE (g_error_matches (outcome.error, SF_ERROR, SF_ERROR_BACKUP_FAILED));
  EXPECT_STREQ (outcome.error->message, "Backup, archive verification failed");
  EXPECT_TRUE (log_.contains ("archive of emails could not be read back"));
  EXPECT_EQ (snapshot (data_), before);
  EXPECT_FALSE (exists (backups_ + "/Backup0"));
}

/* A byte damaged on the medium in any part of the archive fails the backup before any source
 * is deleted: in a local header, a name, an extra field, the data, a data descriptor, the central
 * directory and the end record. */
TEST_P (Verify, DamageInEveryPartFailsTheBackup)
{
  make_tree ();
  std::map<std::string, FileState> before = snapshot (data_);
  g_autoptr (SfBackupInfo) intact_info = new_info ("Intact", SF_CATEGORY_EMAILS, nullptr);
  Outcome intact_outcome;
  backup (intact_info, &intact_outcome);
  ASSERT_TRUE (intact_outcome.finished);
  /* The plain layout; a protected archive has the same 16 bytes later. */
  const std::string bytes = read_file (backups_ + "/Intact/emails.zip");
  gsize shift = password () != nullptr ? 16 : 0;
  gsize second = bytes.find ("PK\x03\x04", 4);
  gsize descriptor = bytes.find ("PK\x07\x08");
  gsize central = bytes.find ("PK\x01\x02");
  gsize end = bytes.find ("PK\x05\x06");
  ASSERT_NE (second, std::string::npos);
  ASSERT_NE (descriptor, std::string::npos);
  ASSERT_NE (central, std::string::npos);
  ASSERT_NE (end, std::string::npos);
  gsize extra = 30 + (guint8)bytes[26] + ((guint8)bytes[27] << 8);
  const std::vector<std::pair<std::string, gsize>> parts = {
    { "local header", 14 },
    { "name", 32 },
    { "extra field", extra + 5 },
    { "data", extra + 60 },
    { "data descriptor", descriptor + 6 },
    { "second entry", second + 2 },
    { "central directory", central + 20 },
    { "central name", central + 50 },
    { "end record", end + 12 },
  };

  for (const auto &[part, offset] : parts)
    {
      /* The sources are put back as they were before every attempt. */
      for (const auto &[path, state] : before)
        write_file (path, state.content, state.mode, state.mtime);
      g_setenv ("SF_DAMAGE_ARCHIVE", ("emails:" + std::to_string (offset + shift)).c_str (), TRUE);
      std::string name = "Backup" + std::to_string (offset);
      g_autoptr (SfBackupInfo) info = new_info (name, SF_CATEGORY_EMAILS, password ());
      Outcome outcome;
      backup (info, &outcome, password ());
      EXPECT_FALSE (outcome.finished) << part;
      EXPECT_TRUE (g_error_matches (outcome.error, SF_ERROR, SF_ERROR_BACKUP_FAILED)) << part;
      EXPECT_EQ (snapshot (data_), before) << part;
      EXPECT_FALSE (exists (backups_ + "/" + name)) << part;
    }
}

/* The same tree backs up when nothing is damaged, so the failure above is the damage's doing. */
TEST_P (Verify, IntactArchivesPass)
{
  make_tree ();
  g_setenv ("SF_DAMAGE_ARCHIVE", "bookmarks", TRUE);
  g_autoptr (SfBackupInfo) info = new_info (
      "Backup0", SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS | SF_CATEGORY_SETTINGS, password ());
  Outcome outcome;
  backup (info, &outcome, password ());
  ASSERT_TRUE (outcome.finished) << (outcome.error ? outcome.error->message : "");
  EXPECT_FALSE (exists (data_ + "/contacts/a b/ä ö.vcf"));
  EXPECT_TRUE (log_.contains (
      "Archive of emails read back: "
      + std::to_string (read_file (backups_ + "/Backup0/emails.zip").size ()) + " bytes"));
  for (size_t i = 0; i + 1 < outcome.percents.size (); i++)
    EXPECT_LE (outcome.percents[i], outcome.percents[i + 1]) << "progress went backwards";
}

/* A readable archive still fails when the medium returns other bytes than were written: other
 * contents of the same length, or one byte more or less. */
TEST_P (Verify, ReadBackMustReturnExactlyTheBytesWritten)
{
  make_tree ();
  g_autoptr (SfBackupInfo) info = new_info ("Backup0", SF_CATEGORY_CONTACTS, password ());
  Outcome outcome;
  backup (info, &outcome, password ());
  ASSERT_TRUE (outcome.finished) << (outcome.error ? outcome.error->message : "");

  g_autoptr (GFile) dir = g_file_new_for_path ((backups_ + "/Backup0").c_str ());
  g_autoptr (SfBackupInfo) written = sf_backup_info_new_from_directory (dir);
  ASSERT_NE (written, nullptr);
  SfUserFiles *user_files = sf_user_files_new (SF_CATEGORY_CONTACTS);
  g_autoptr (SfArchiver) archiver
      = sf_archiver_zip_new_backup (written, user_files, 0, 0, password ());
  SfArchiverZip *zip = SF_ARCHIVER_ZIP (archiver);

  SfArchiverZipChecksum checksum;
  ASSERT_TRUE (_sf_archiver_zip_checksum_category (written, SF_CATEGORY_CONTACTS, &checksum, NULL));
  auto verify = [zip, &checksum] () {
    g_autoptr (GError) error = NULL;
    gboolean verified
        = _sf_archiver_zip_verify_category (zip, SF_CATEGORY_CONTACTS, checksum, &error);
    EXPECT_EQ (verified, error == NULL);
    if (error != NULL)
      {
        EXPECT_TRUE (g_error_matches (error, SF_ERROR, SF_ERROR_BACKUP_FAILED)) << error->message;
      }
    return verified;
  };
  EXPECT_TRUE (verify ());

  const SfArchiverZipChecksum intact = checksum;
  checksum.crc ^= 1;
  EXPECT_FALSE (verify ());
  checksum = { intact.size + 1, intact.crc };
  EXPECT_FALSE (verify ());
  checksum = { intact.size - 1, intact.crc };
  EXPECT_FALSE (verify ());
  EXPECT_TRUE (log_.contains ("of CRC-32"));
  checksum = intact;
  EXPECT_TRUE (verify ());
  sf_user_files_free (user_files);
}

INSTANTIATE_TEST_SUITE_P (PlainAndProtected, Verify, ::testing::Values (nullptr, "s3cret pass"),
                          [] (const ::testing::TestParamInfo<const char *> &info) {
                            return std::string (info.param != nullptr ? "Protected" : "Plain");
                          });
