#include "sf-backup-locations.h"
#include "sf-file-entry.h"
#include "sf-user-files.h"
#include "sf-vfs-utils.h"

#include "log-capture.h"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace
{
class VfsUtilsTest : public testing::Test
{
protected:
  void SetUp () override
  {
    root = g_dir_make_tmp ("vfs-XXXXXX", NULL);
    ASSERT_NE (root, nullptr);
  }

  void TearDown () override
  {
    g_autofree gchar *command = g_strdup_printf ("rm -rf '%s'", root);
    g_spawn_command_line_sync (command, NULL, NULL, NULL, NULL);
    g_free (root);
  }

  std::string path (const std::string &relative) const
  {
    return std::string (root) + "/" + relative;
  }

  void write (const std::string &relative, const std::string &contents = "data") const
  {
    g_autofree gchar *directory = g_path_get_dirname (path (relative).c_str ());
    g_mkdir_with_parents (directory, 0700);
    ASSERT_TRUE (g_file_set_contents (path (relative).c_str (), contents.c_str (), -1, NULL));
  }

  void link (const std::string &target, const std::string &relative) const
  {
    ASSERT_EQ (symlink (target.c_str (), path (relative).c_str ()), 0);
  }

  /* The relative paths of the files the list holds. */
  std::set<std::string> file_list (std::initializer_list<std::string> includes,
                                   std::initializer_list<std::string> exclusions) const
  {
    GSList *include_list = NULL;
    for (const std::string &include : includes)
      include_list = g_slist_append (include_list, g_strescape (path (include).c_str (), NULL));
    GSList *exclusion_list = NULL;
    for (const std::string &exclusion : exclusions)
      exclusion_list = g_slist_append (exclusion_list, g_strdup (path (exclusion).c_str ()));
    GSList *entries = sf_vfs_utils_build_file_list (include_list, exclusion_list);
    std::set<std::string> names;
    for (GSList *item = entries; item != NULL; item = item->next)
      {
        SfFileEntry *entry = (SfFileEntry *)item->data;
        g_autofree gchar *file_path = g_file_get_path (entry->uri);
        names.insert (file_path + strlen (root) + 1);
        EXPECT_EQ (g_file_info_get_file_type (entry->info), G_FILE_TYPE_REGULAR);
        /* Every attribute an entry promises its users. */
        for (const char *attribute :
             { G_FILE_ATTRIBUTE_STANDARD_NAME, G_FILE_ATTRIBUTE_STANDARD_SIZE,
               G_FILE_ATTRIBUTE_TIME_MODIFIED, G_FILE_ATTRIBUTE_UNIX_MODE,
               G_FILE_ATTRIBUTE_STANDARD_FAST_CONTENT_TYPE })
          EXPECT_TRUE (g_file_info_has_attribute (entry->info, attribute))
              << file_path << " lacks " << attribute;
      }
    sf_file_entry_list_free (entries);
    g_slist_free_full (include_list, g_free);
    g_slist_free_full (exclusion_list, g_free);
    return names;
  }

  gchar *root = NULL;
};

TEST_F (VfsUtilsTest, FileListWalksDirectoriesAndLinksAndDropsExcludedFiles)
{
  write ("data/keep");
  write ("data/cache/one");
  write ("data/cache/deep/er/two");
  write ("data/note.txt");
  write ("data/note.txt.bak");
  write ("data/log1.txt");
  write ("data/log22.txt");
  write ("data/star/a.tmp");
  write ("data/star/b.tmp");
  write ("outside/linked");
  link (path ("outside"), "data/link");
  link ("..", "data/star/up");
  link (".", "data/loop");
  link (path ("nowhere"), "data/dangling");
  write ("single");

  std::set<std::string> expected = { "data/keep",        "data/note.txt.bak", "data/log22.txt",
                                     "data/link/linked", "data/star/b.tmp",   "single" };
  EXPECT_EQ (file_list ({ "data", "single", "missing" },
                        { "data/cache/*", "data/note.txt", "data/log?.txt", "data/star/a*" }),
             expected);
  EXPECT_EQ (file_list ({ "data/cache" }, {}),
             std::set<std::string> ({ "data/cache/one", "data/cache/deep/er/two" }));
}

/* Include paths that overlap, spelled differently or named twice give each file once. */
TEST_F (VfsUtilsTest, FileListHoldsEachFileOnce)
{
  write ("data/one");
  write ("data/deep/two");
  write ("single");
  GSList *include_list = NULL;
  for (const std::string &include : { path ("data"), path ("data/deep"), path ("data//deep/"),
                                      path ("single"), path ("./single"), path ("data") })
    include_list = g_slist_append (include_list, g_strescape (include.c_str (), NULL));
  GSList *entries = sf_vfs_utils_build_file_list (include_list, NULL);
  std::vector<std::string> listed;
  for (GSList *item = entries; item != NULL; item = item->next)
    listed.push_back (g_file_peek_path (((SfFileEntry *)item->data)->uri));
  EXPECT_EQ (listed, std::vector<std::string> (
                         { path ("data/deep/two"), path ("data/one"), path ("single") }));
  sf_file_entry_list_free (entries);
  g_slist_free_full (include_list, g_free);
}

/* A folder's files stay together in the list, so that packing and restoring go folder by
 * folder. */
TEST_F (VfsUtilsTest, FileListComesInPathOrder)
{
  std::vector<std::string> expected;
  for (const gchar *folder : { "b", "a/y", "c/z/w", "a" })
    for (const gchar *name : { "3", "1", "2" })
      {
        std::string relative = std::string (folder) + "/" + name;
        write (relative);
        expected.push_back (path (relative));
      }
  std::sort (expected.begin (), expected.end ());

  GSList *include_list = g_slist_append (NULL, g_strescape (root, NULL));
  GSList *entries = sf_vfs_utils_build_file_list (include_list, NULL);
  std::vector<std::string> listed;
  for (GSList *item = entries; item != NULL; item = item->next)
    {
      g_autofree gchar *file_path = g_file_get_path (((SfFileEntry *)item->data)->uri);
      listed.push_back (file_path);
    }
  EXPECT_EQ (listed, expected);
  sf_file_entry_list_free (entries);
  g_slist_free_full (include_list, g_free);
}

TEST_F (VfsUtilsTest, IncludePathsAreUnescapedBeforeUse)
{
  write ("caf\xc3\xa9 \"quoted\"\\dir/file");
  EXPECT_EQ (file_list ({ "caf\xc3\xa9 \"quoted\"\\dir" }, {}),
             std::set<std::string> ({ "caf\xc3\xa9 \"quoted\"\\dir/file" }));
}

TEST_F (VfsUtilsTest, CountFilesCountsRegularFilesBelowEachPath)
{
  write ("a/one", "12345");
  write ("a/b/two", "1234567890");
  write ("c", "123");
  link (path ("a"), "a/b/up");
  std::string a = path ("a"), c = path ("c"), missing = path ("missing");
  GSList *paths = g_slist_append (
      g_slist_append (g_slist_append (NULL, (gpointer)a.c_str ()), (gpointer)c.c_str ()),
      (gpointer)missing.c_str ());
  guint32 num_files = 0;
  guint64 size = 0;
  sf_vfs_utils_count_files (paths, &num_files, &size);
  g_slist_free (paths);
  EXPECT_EQ (num_files, 3u);
  EXPECT_EQ (size, 18u);
}

TEST_F (VfsUtilsTest, RemoveDirectoryEmptiesItWithoutFollowingLinks)
{
  write ("victim/keep-me");
  write ("dir/file");
  write ("dir/sub/deeper/file");
  link (path ("victim"), "dir/link-to-dir");
  link (path ("victim/keep-me"), "dir/link-to-file");

  g_autoptr (GFile) directory = g_file_new_for_path (path ("dir").c_str ());
  g_autoptr (GError) error = sf_vfs_utils_remove_directory (directory);
  EXPECT_EQ (error, nullptr);
  EXPECT_TRUE (g_file_test (path ("dir").c_str (), G_FILE_TEST_IS_DIR));
  g_autoptr (GDir) dir = g_dir_open (path ("dir").c_str (), 0, NULL);
  EXPECT_EQ (g_dir_read_name (dir), nullptr);
  EXPECT_TRUE (g_file_test (path ("victim/keep-me").c_str (), G_FILE_TEST_IS_REGULAR));

  g_autoptr (GFile) missing = g_file_new_for_path (path ("missing").c_str ());
  g_autoptr (GError) missing_error = sf_vfs_utils_remove_directory (missing);
  EXPECT_TRUE (g_error_matches (missing_error, G_IO_ERROR, G_IO_ERROR_NOT_FOUND));
}

TEST_F (VfsUtilsTest, TemporaryFilesGetEightLetterNamesAndTheMode)
{
  g_autoptr (GFile) directory = g_file_new_for_path (root);
  std::set<std::string> names;
  for (int index = 0; index < 20; index++)
    {
      GOutputStream *output = NULL;
      GFile *file = NULL;
      g_autoptr (GError) error = sf_vfs_utils_create_temp_file (&output, directory, 0640, &file);
      ASSERT_EQ (error, nullptr);
      ASSERT_NE (output, nullptr);
      g_autofree gchar *name = g_file_get_basename (file);
      ASSERT_EQ (strlen (name), 8u);
      for (const gchar *letter = name; *letter != '\0'; letter++)
        EXPECT_TRUE (g_ascii_isalpha (*letter)) << name;
      names.insert (name);
      g_autoptr (GError) write_error = sf_vfs_utils_write (output, "abc", 3);
      EXPECT_EQ (write_error, nullptr);
      g_object_unref (output);
      struct stat status;
      ASSERT_EQ (stat (g_file_peek_path (file), &status), 0);
      EXPECT_EQ (status.st_mode & 07777, 0640u);
      EXPECT_EQ (status.st_size, 3);
      g_object_unref (file);
    }
  EXPECT_EQ (names.size (), 20u);

  g_autoptr (GFile) missing = g_file_new_for_path (path ("missing").c_str ());
  GOutputStream *output = NULL;
  GFile *file = NULL;
  g_autoptr (GError) error = sf_vfs_utils_create_temp_file (&output, missing, 0600, &file);
  EXPECT_TRUE (g_error_matches (error, G_IO_ERROR, G_IO_ERROR_NOT_FOUND));
  EXPECT_EQ (output, nullptr);
  EXPECT_EQ (file, nullptr);
}

TEST_F (VfsUtilsTest, TimestampsTypesAndModes)
{
  write ("file");
  std::string file_path = path ("file");
  g_autoptr (GFile) file = g_file_new_for_path (file_path.c_str ());

  g_autoptr (GError) set_error
      = sf_vfs_utils_uri_set_timestamp_and_mode (file_path.c_str (), 1000000000, 0604);
  EXPECT_EQ (set_error, nullptr);
  gint64 seconds = 0;
  g_autoptr (GError) get_error = sf_vfs_utils_uri_get_timestamp (file, &seconds);
  EXPECT_EQ (get_error, nullptr);
  EXPECT_EQ (seconds, 1000000000);

  g_autoptr (GError) mode_only_error
      = sf_vfs_utils_uri_set_timestamp_and_mode (file_path.c_str (), 0, 0611);
  EXPECT_EQ (mode_only_error, nullptr);
  g_autoptr (GError) again_error = sf_vfs_utils_uri_get_timestamp (file, &seconds);
  EXPECT_EQ (seconds, 1000000000);
  g_autoptr (GError) mode_error = sf_vfs_utils_uri_set_mode (file_path.c_str (), 0600);
  EXPECT_EQ (mode_error, nullptr);
  struct stat status;
  ASSERT_EQ (stat (file_path.c_str (), &status), 0);
  EXPECT_EQ (status.st_mode & 07777, 0600u);

  GFileType type = G_FILE_TYPE_UNKNOWN;
  g_autoptr (GFile) directory = g_file_new_for_path (root);
  g_autoptr (GError) type_error = sf_vfs_utils_uri_get_file_type (directory, &type);
  EXPECT_EQ (type, G_FILE_TYPE_DIRECTORY);
  g_autoptr (GFile) missing = g_file_new_for_path (path ("missing").c_str ());
  g_autoptr (GError) missing_error = sf_vfs_utils_uri_get_timestamp (missing, &seconds);
  EXPECT_TRUE (g_error_matches (missing_error, G_IO_ERROR, G_IO_ERROR_NOT_FOUND));
  g_autoptr (GError) missing_mode_error
      = sf_vfs_utils_uri_set_mode (path ("missing").c_str (), 0600);
  EXPECT_NE (missing_mode_error, nullptr);
}

TEST_F (VfsUtilsTest, MissingArgumentsGiveInvalidArgumentErrors)
{
  LogCapture log;
  GFileType type;
  for (GError *error :
       { sf_vfs_utils_uri_set_mode (NULL, 0600), sf_vfs_utils_uri_get_file_type (NULL, &type),
         sf_vfs_utils_remove_directory (NULL), sf_vfs_utils_write (NULL, "x", 1) })
    {
      EXPECT_TRUE (g_error_matches (error, G_FILE_ERROR, G_FILE_ERROR_INVAL));
      EXPECT_TRUE (g_str_has_prefix (error->message, "Invalid argument: "));
      g_error_free (error);
    }
}

TEST (FileEntryTest, EntriesAndUserFilesOwnWhatTheyHold)
{
  g_autoptr (GFile) file = g_file_new_for_path ("/some/file");
  g_autoptr (GFileInfo) info = g_file_info_new ();
  g_file_info_set_size (info, 42);
  SfFileEntry *entry = sf_file_entry_new (file, info);
  EXPECT_NE (entry->uri, file);
  EXPECT_TRUE (g_file_equal (entry->uri, file));
  SfFileEntry *copy = sf_file_entry_dup (entry);
  sf_file_entry_free (entry);
  EXPECT_EQ (g_file_info_get_size (copy->info), 42);

  SfUserFiles *files = sf_user_files_new (SF_CATEGORY_ALL);
  EXPECT_EQ (sf_user_files_get_size (files, SF_CATEGORY_ALL), 0u);
  files->files[sf_category_to_index (SF_CATEGORY_MEDIA)] = g_slist_prepend (NULL, copy);
  files->sizes[sf_category_to_index (SF_CATEGORY_MEDIA)] = 42;
  files->num_files[sf_category_to_index (SF_CATEGORY_MEDIA)] = 1;
  files->sizes[sf_category_to_index (SF_CATEGORY_CONTACTS)] = 8;
  files->num_files[sf_category_to_index (SF_CATEGORY_CONTACTS)] = 2;
  EXPECT_EQ (sf_user_files_get_size (files, SF_CATEGORY_MEDIA | SF_CATEGORY_CONTACTS), 50u);
  EXPECT_EQ (sf_user_files_get_num_files (files, SF_CATEGORY_CONTACTS), 2u);
  EXPECT_EQ (sf_user_files_get_num_files (files, SF_CATEGORY_EMAILS), 0u);
  sf_user_files_free (files);
}
} // namespace
