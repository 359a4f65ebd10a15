#include "archiver-test-support.h"

#include "sf-config.h"

namespace
{
/* Backups of configurations whose locations nest inside each other. */
class ConfiguredLocations : public ArchiverTest
{
protected:
  void TearDown () override
  {
    sf_config_free ();
    ArchiverTest::TearDown ();
  }

  /* Reads the configurations again with the declarations made since SetUp. */
  void reload ()
  {
    sf_backup_configurations_free ();
    sf_backup_configurations_init (config_.c_str ());
  }
};

TEST_F (ConfiguredLocations, NestedIncludesOfOtherCategoriesArePackedInAPerCategoryBackup)
{
  declare ("notes", "<location type=\"dir\" category=\"organizer\">$HOME/data/contacts/notes"
                    "</location>");
  reload ();
  write_file (data_ + "/contacts/a.vcf", "card");
  write_file (data_ + "/contacts/notes/n.txt", "note");

  g_autoptr (SfBackupInfo) organizer = new_info ("Organizer", SF_CATEGORY_ORGANIZER);
  Outcome outcome;
  backup (organizer, &outcome);
  ASSERT_TRUE (outcome.finished) << (outcome.error ? outcome.error->message : "");
  g_autoptr (GFile) dir = g_file_new_for_path ((backups_ + "/Organizer").c_str ());
  g_autoptr (SfBackupInfo) written = sf_backup_info_new_from_directory (dir);
  ASSERT_NE (written, nullptr);
  EXPECT_EQ (sf_backup_info_get_num_files_for_categories (written, SF_CATEGORY_ORGANIZER), 1u);
  EXPECT_FALSE (exists (data_ + "/contacts/notes/n.txt"));
  EXPECT_TRUE (exists (data_ + "/contacts/a.vcf")) << "contacts were not part of this backup";
}

TEST_F (ConfiguredLocations, TheGconfDirectoryIsCountedOnceAndAsPacked)
{
  std::string conf_dir = config_ + "/engine";
  write_file (conf_dir + "/safehold.conf", "<backup-configuration><gconf-dir>$HOME/data/gconf"
                                           "</gconf-dir></backup-configuration>");
  sf_config_init (conf_dir.c_str ());
  declare ("gconf",
           "<location type=\"dir\" category=\"settings\">$HOME/data/gconf/apps</location>");
  reload ();
  write_file (data_ + "/settings/export/app.ini", std::string (100, 'i'));
  write_file (data_ + "/settings/prefs.db", std::string (20, 'p'));
  write_file (data_ + "/gconf/apps/%gconf.xml", std::string (3000, 'g'));
  write_file (data_ + "/gconf/system/%gconf.xml", std::string (50000, 's'));

  guint32 files = 0;
  guint64 size = 0;
  sf_backend_count_data (backend (), SF_CATEGORY_SETTINGS, &files, &size);
  EXPECT_EQ (files, 3u);
  EXPECT_EQ (size, 3120u);

  g_autoptr (SfBackupInfo) info = new_info ("Settings", SF_CATEGORY_SETTINGS);
  Outcome outcome;
  backup (info, &outcome);
  ASSERT_TRUE (outcome.finished) << (outcome.error ? outcome.error->message : "");
  EXPECT_EQ (sf_backup_info_get_size_for_categories (info, SF_CATEGORY_SETTINGS), size);
  EXPECT_EQ (sf_backup_info_get_num_files_for_categories (info, SF_CATEGORY_SETTINGS), files);
}
} // namespace
