#include "sf-backup-locations.h"
#include "sf-config.h"
#include "sf-file-entry.h"
#include "sf-log.h"
#include "sf-vfs-utils.h"

#include "log-capture.h"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace
{
std::vector<std::string>
take_strings (GSList *list)
{
  std::vector<std::string> strings;
  for (GSList *item = list; item != NULL; item = item->next)
    strings.push_back ((const gchar *)item->data);
  g_slist_free_full (list, g_free);
  return strings;
}

class BackupLocationsTest : public testing::Test
{
protected:
  void SetUp () override
  {
    sf_log_start (2);
    locations = sf_backup_locations_new ();
    root = g_dir_make_tmp ("locations-XXXXXX", NULL);
    ASSERT_NE (root, nullptr);
  }

  void TearDown () override
  {
    sf_backup_locations_free (locations);
    sf_config_free ();
    g_autofree gchar *command = g_strdup_printf ("rm -rf '%s'", root);
    g_spawn_command_line_sync (command, NULL, NULL, NULL, NULL);
    g_free (root);
  }

  std::string path (const std::string &relative) const
  {
    return std::string (root) + "/" + relative;
  }

  void write (const std::string &relative, gsize size) const
  {
    g_autofree gchar *directory = g_path_get_dirname (path (relative).c_str ());
    g_mkdir_with_parents (directory, 0700);
    std::string contents (size, 'x');
    ASSERT_TRUE (g_file_set_contents (path (relative).c_str (), contents.data (), size, NULL));
  }

  void add (const std::string &relative, guint32 categories, gboolean is_dir, gboolean is_exclusion)
  {
    ASSERT_TRUE (_sf_backup_locations_add_location (locations, "app", path (relative).c_str (),
                                                    categories, is_dir, is_exclusion));
  }

  SfBackupLocations *locations = NULL;
  gchar *root = NULL;
};

TEST_F (BackupLocationsTest, FirstDeclarationOfAPathWins)
{
  LogCapture log;
  EXPECT_FALSE (_sf_backup_locations_add_location (locations, "app", "relative/path",
                                                   SF_CATEGORY_CONTACTS, FALSE, FALSE));
  EXPECT_TRUE (log.contains ("Path is not absolute: relative/path."));
  EXPECT_EQ (g_hash_table_size (locations), 0u);

  EXPECT_TRUE (_sf_backup_locations_add_location (locations, "first", "/data/x",
                                                  SF_CATEGORY_CONTACTS, TRUE, FALSE));
  EXPECT_TRUE (_sf_backup_locations_add_location (locations, "second", "/data/x",
                                                  SF_CATEGORY_EMAILS, FALSE, TRUE));
  EXPECT_TRUE (log.contains ("Got duplicate path in configuration:\n/data/x."));
  EXPECT_TRUE (log.contains ("Adding entry /data/x for app first"));
  ASSERT_EQ (g_hash_table_size (locations), 1u);
  SfBackupLocation *location = (SfBackupLocation *)g_hash_table_lookup (locations, "/data/x");
  EXPECT_STREQ (location->appl_name, "first");
  EXPECT_EQ (location->categories, (guint32)SF_CATEGORY_CONTACTS);
  EXPECT_TRUE (location->is_dir);
  EXPECT_FALSE (location->is_exclusion);
  EXPECT_FALSE (location->redundant);
}

TEST_F (BackupLocationsTest, NestedEntriesAreRedundantOnlyWhenTheOuterOneCoversTheirCategories)
{
  add ("a", SF_CATEGORY_CONTACTS, TRUE, FALSE);
  add ("a/b/c", SF_CATEGORY_EMAILS, TRUE, FALSE);
  add ("a/d", SF_CATEGORY_CONTACTS, TRUE, FALSE);
  add ("a/e", SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS, TRUE, FALSE);
  add ("a/x", SF_CATEGORY_CONTACTS, TRUE, TRUE);
  add ("a/x/y", SF_CATEGORY_CONTACTS, TRUE, TRUE);
  add ("a/x/w", SF_CATEGORY_EMAILS, TRUE, TRUE);
  add ("a/x/y/z", SF_CATEGORY_CONTACTS, TRUE, FALSE);
  add ("ab", SF_CATEGORY_EMAILS, TRUE, FALSE);
  _sf_backup_locations_remove_redundancies (locations);

  auto redundant = [this] (const std::string &relative) {
    return ((SfBackupLocation *)g_hash_table_lookup (locations, path (relative).c_str ()))
        ->redundant;
  };
  EXPECT_FALSE (redundant ("a"));
  EXPECT_FALSE (redundant ("a/b/c"));
  EXPECT_TRUE (redundant ("a/d"));
  EXPECT_FALSE (redundant ("a/e"));
  EXPECT_FALSE (redundant ("a/x"));
  EXPECT_TRUE (redundant ("a/x/y"));
  EXPECT_FALSE (redundant ("a/x/w"));
  /* An include below an exclusion is what the exclusion spares; it is below include "a" too. */
  EXPECT_TRUE (redundant ("a/x/y/z"));
  EXPECT_FALSE (redundant ("ab"));

  /* A backup of e-mail alone still reaches what e-mail declared inside the contacts folder. */
  EXPECT_EQ (take_strings (sf_backup_locations_get_uris (locations, SF_CATEGORY_EMAILS, FALSE)),
             std::vector<std::string> ({ path ("a/b/c"), path ("a/e"), path ("ab") }));
  EXPECT_EQ (take_strings (sf_backup_locations_get_uris (locations, SF_CATEGORY_CONTACTS, TRUE)),
             std::vector<std::string> ({ path ("a/x/*") }));
  EXPECT_EQ (take_strings (sf_backup_locations_get_uris (locations, SF_CATEGORY_EMAILS, TRUE)),
             std::vector<std::string> ({ path ("a/x/w/*") }));

  /* Computed again once the outer entry is gone, as after test applications are removed. */
  g_hash_table_remove (locations, path ("a").c_str ());
  _sf_backup_locations_remove_redundancies (locations);
  EXPECT_FALSE (redundant ("a/d"));
  EXPECT_FALSE (redundant ("a/x/y/z"));
  EXPECT_TRUE (redundant ("a/x/y"));
}

TEST_F (BackupLocationsTest, AnIncludeBelowAnExclusionOnlyIsNotRedundant)
{
  add ("a/b", SF_CATEGORY_CONTACTS, TRUE, TRUE);
  add ("a/b/c", SF_CATEGORY_CONTACTS, TRUE, FALSE);
  _sf_backup_locations_remove_redundancies (locations);
  EXPECT_EQ (take_strings (sf_backup_locations_get_uris (locations, SF_CATEGORY_CONTACTS, FALSE)),
             std::vector<std::string> ({ path ("a/b/c") }));
}

TEST_F (BackupLocationsTest, ListsHoldEscapedIncludesAndExclusionPatternsSorted)
{
  const guint32 mine = SF_CATEGORY_CONTACTS | SF_CATEGORY_SETTINGS;
  ASSERT_TRUE (_sf_backup_locations_add_location (locations, "app", "/z/caf\xc3\xa9 \"q\"", mine,
                                                  TRUE, FALSE));
  ASSERT_TRUE (_sf_backup_locations_add_location (locations, "app", "/m/file", mine, FALSE, FALSE));
  ASSERT_TRUE (_sf_backup_locations_add_location (locations, "app", "/other", SF_CATEGORY_EMAILS,
                                                  TRUE, FALSE));
  for (const gchar *exclusion : { "/x/dir", "/x/slash/", "/x/star/*", "/x/tail*" })
    ASSERT_TRUE (_sf_backup_locations_add_location (locations, "app", exclusion,
                                                    SF_CATEGORY_SETTINGS, TRUE, TRUE));
  ASSERT_TRUE (_sf_backup_locations_add_location (locations, "app", "/x/one?.txt",
                                                  SF_CATEGORY_SETTINGS, FALSE, TRUE));

  EXPECT_EQ (take_strings (sf_backup_locations_get_uris (locations, SF_CATEGORY_CONTACTS, FALSE)),
             std::vector<std::string> ({ "/m/file", "/z/caf\\303\\251 \\\"q\\\"" }));
  EXPECT_EQ (take_strings (sf_backup_locations_get_uris (locations, SF_CATEGORY_SETTINGS, TRUE)),
             std::vector<std::string> (
                 { "/x/dir/*", "/x/one?.txt", "/x/slash/*", "/x/star/*", "/x/tail*/*" }));
  EXPECT_TRUE (take_strings (sf_backup_locations_get_uris (locations, SF_CATEGORY_BOOKMARKS, FALSE))
                   .empty ());

  GSList *infos = sf_backup_locations_get_uri_infos (locations, SF_CATEGORY_SETTINGS, FALSE);
  ASSERT_EQ (g_slist_length (infos), 2u);
  for (GSList *item = infos; item != NULL; item = item->next)
    EXPECT_EQ (((SfBackupUriInfo *)item->data)->categories, mine);
  g_slist_free_full (infos, (GDestroyNotify)sf_backup_uri_info_free);
}

TEST_F (BackupLocationsTest, CountingTakesOffExcludedFilesAndCountsEachArchiveOnce)
{
  write ("data/one", 10);
  write ("data/sub/two", 20);
  write ("data/sub/skip.txt", 300);
  write ("data/cache/three", 4000);
  write ("elsewhere/alone", 50000);
  add ("data", SF_CATEGORY_CONTACTS, TRUE, FALSE);
  add ("data/sub/skip.txt", SF_CATEGORY_CONTACTS, FALSE, TRUE);
  add ("data/cache", SF_CATEGORY_CONTACTS, TRUE, TRUE);
  /* Not below any include: nothing counted to take off. */
  add ("elsewhere/alone", SF_CATEGORY_CONTACTS, FALSE, TRUE);
  add ("missing", SF_CATEGORY_EMAILS, TRUE, FALSE);
  _sf_backup_locations_remove_redundancies (locations);

  guint32 num_files = 99;
  guint64 size = 99;
  sf_backup_locations_count_data (locations, SF_CATEGORY_CONTACTS, &num_files, &size);
  /* Directory patterns name no path, so the cache still counts. */
  EXPECT_EQ (num_files, 3u);
  EXPECT_EQ (size, 4030u);

  sf_backup_locations_count_data (locations, SF_CATEGORY_EMAILS, &num_files, &size);
  EXPECT_EQ (num_files, 0u);
  EXPECT_EQ (size, 0u);

  /* A folder of two categories goes into both archives; an include of the same category inside
   * another is packed once. */
  write ("both/f", 5);
  write ("both/inner/g", 600);
  add ("both", SF_CATEGORY_ORGANIZER | SF_CATEGORY_BOOKMARKS, TRUE, FALSE);
  add ("both/inner", SF_CATEGORY_ORGANIZER | SF_CATEGORY_SETTINGS, TRUE, FALSE);
  _sf_backup_locations_remove_redundancies (locations);
  sf_backup_locations_count_data (locations, SF_CATEGORY_ORGANIZER | SF_CATEGORY_BOOKMARKS,
                                  &num_files, &size);
  EXPECT_EQ (num_files, 4u);
  EXPECT_EQ (size, 1210u);

  /* The GConf directory counts only where a location packs it. */
  write ("config/safehold.conf", 0);
  std::string conf = "<backup-configuration><gconf-dir>" + path ("gconf")
                     + "</gconf-dir></backup-configuration>";
  ASSERT_TRUE (
      g_file_set_contents (path ("config/safehold.conf").c_str (), conf.c_str (), -1, NULL));
  sf_config_init (path ("config").c_str ());
  write ("gconf/apps/%gconf.xml", 700);
  write ("gconf/system/%gconf.xml", 8000);
  sf_backup_locations_count_data (locations, SF_CATEGORY_EMAILS | SF_CATEGORY_SETTINGS, &num_files,
                                  &size);
  EXPECT_EQ (num_files, 1u);
  EXPECT_EQ (size, 600u);
  add ("gconf/system", SF_CATEGORY_SETTINGS, TRUE, FALSE);
  sf_backup_locations_count_data (locations, SF_CATEGORY_EMAILS | SF_CATEGORY_SETTINGS, &num_files,
                                  &size);
  EXPECT_EQ (num_files, 2u);
  EXPECT_EQ (size, 8600u);
}

/* A backup counts each category from the walk that lists its files, not from a walk of its own:
 * the figures must be the count's, exclusions, links and overlapping categories included. */
TEST_F (BackupLocationsTest, CountingFromTheFileListsWalkGivesTheCount)
{
  write ("data/one", 10);
  write ("data/sub/two", 20);
  write ("data/sub/skip.txt", 300);
  write ("data/cache/three", 4000);
  write ("outside/linked", 50000);
  write ("both/f", 5);
  write ("both/inner/g", 600);
  ASSERT_EQ (symlink (path ("outside").c_str (), path ("data/link").c_str ()), 0);
  ASSERT_EQ (symlink ("..", path ("data/sub/up").c_str ()), 0);
  add ("data", SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS, TRUE, FALSE);
  add ("data/sub/skip.txt", SF_CATEGORY_CONTACTS, FALSE, TRUE);
  add ("data/cache", SF_CATEGORY_EMAILS, TRUE, TRUE);
  add ("outside/linked", SF_CATEGORY_EMAILS, FALSE, TRUE);
  add ("both", SF_CATEGORY_ORGANIZER | SF_CATEGORY_BOOKMARKS, TRUE, FALSE);
  add ("both/inner", SF_CATEGORY_ORGANIZER | SF_CATEGORY_SETTINGS, TRUE, FALSE);
  add ("both/inner/g", SF_CATEGORY_SETTINGS, FALSE, TRUE);
  add ("missing", SF_CATEGORY_MESSAGING, TRUE, FALSE);
  _sf_backup_locations_remove_redundancies (locations);

  for (SfCategory category : { SF_CATEGORY_CONTACTS, SF_CATEGORY_EMAILS, SF_CATEGORY_ORGANIZER,
                               SF_CATEGORY_BOOKMARKS, SF_CATEGORY_SETTINGS, SF_CATEGORY_MESSAGING })
    {
      guint32 counted_files = 99, walked_files = 99, files = 99;
      guint64 counted_size = 99, walked_size = 99, size = 99;
      sf_backup_locations_count_data (locations, category, &counted_files, &counted_size);
      GSList *includes = sf_backup_locations_get_uris (locations, category, FALSE);
      GSList *exclusions = sf_backup_locations_get_uris (locations, category, TRUE);
      sf_file_entry_list_free (
          sf_vfs_utils_build_file_list_counted (includes, exclusions, &walked_files, &walked_size));
      sf_backup_locations_count_walked (locations, category, walked_files, walked_size, &files,
                                        &size);
      EXPECT_EQ (files, counted_files) << sf_category_to_string (category);
      EXPECT_EQ (size, counted_size) << sf_category_to_string (category);
      g_slist_free_full (includes, g_free);
      g_slist_free_full (exclusions, g_free);
    }
  guint32 files = 0;
  guint64 size = 0;
  sf_backup_locations_count_data (locations, SF_CATEGORY_CONTACTS, &files, &size);
  EXPECT_EQ (size, 54030u) << "the exclusion of a file below the include is taken off";
}
} // namespace
