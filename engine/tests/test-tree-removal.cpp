#include "sf-backup-configurations.h"
#include "sf-log.h"
#include "sf-tree-removal.h"

#include "log-capture.h"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace
{
class TreeRemovalTest : public testing::Test
{
protected:
  void SetUp () override
  {
    sf_log_start (2);
    root = g_dir_make_tmp ("removal-XXXXXX", NULL);
    ASSERT_NE (root, nullptr);
  }

  void TearDown () override
  {
    sf_backup_configurations_free ();
    g_autofree gchar *command = g_strdup_printf ("rm -rf '%s'", root);
    g_spawn_command_line_sync (command, NULL, NULL, NULL, NULL);
    g_free (root);
  }

  std::string path (const std::string &relative) const
  {
    return std::string (root) + "/" + relative;
  }

  void write (const std::string &relative, const std::string &contents) const
  {
    g_autofree gchar *directory = g_path_get_dirname (path (relative).c_str ());
    g_mkdir_with_parents (directory, 0700);
    ASSERT_TRUE (
        g_file_set_contents (path (relative).c_str (), contents.data (), contents.size (), NULL));
  }

  std::string read (const std::string &relative) const
  {
    g_autofree gchar *contents = NULL;
    gsize length = 0;
    if (!g_file_get_contents (path (relative).c_str (), &contents, &length, NULL))
      return "<missing>";
    return std::string (contents, length);
  }

  bool exists (const std::string &relative) const
  {
    struct stat info;
    return lstat (path (relative).c_str (), &info) == 0;
  }

  void link (const std::string &target, const std::string &relative) const
  {
    ASSERT_EQ (symlink (target.c_str (), path (relative).c_str ()), 0);
  }

  /* A folder of the user's outside every location, and an export area with links to it. */
  void make_area ()
  {
    write ("outside/precious", "the user's own");
    write ("outside/deep/er", "also the user's");
    write ("area/dump.vcf", "dump");
    write ("area/sub/deeper/dump2", "dump2");
    write ("area/thumbnails/one.png", std::string ("\x89PNG\0\1", 6));
    write ("area/thumbnails/cache/two.png", "two");
    write ("area/app.lock", "lock");
    link (path ("outside"), "area/to-folder");
    link (path ("outside/precious"), "area/sub/to-file");
    link ("..", "area/sub/up");
  }

  void expect_outside_untouched () const
  {
    EXPECT_EQ (read ("outside/precious"), "the user's own");
    EXPECT_EQ (read ("outside/deep/er"), "also the user's");
  }

  /* Bytes sf_tree_removal_measure_location says clearing location would free. */
  static guint64 freed_by_clearing (const std::string &location, guint32 categories)
  {
    guint64 freed = 0;
    sf_tree_removal_measure_location (
        location.c_str (), categories,
        [] (dev_t, guint64 bytes, gpointer total) { *static_cast<guint64 *> (total) += bytes; },
        &freed);
    return freed;
  }

  gchar *root = NULL;
};

TEST_F (TreeRemovalTest, RemovesAllButWhatExclusionsMatchAndNeverFollowsALink)
{
  make_area ();
  GSList *patterns = g_slist_append (NULL, g_strdup (path ("area/thumbnails/*").c_str ()));
  patterns = g_slist_append (patterns, g_strdup (path ("area/*.lock").c_str ()));
  g_autoptr (GError) error = NULL;
  EXPECT_TRUE (sf_tree_removal_remove (path ("area").c_str (), patterns, &error)) << error->message;
  g_slist_free_full (patterns, g_free);
  EXPECT_EQ (read ("area/thumbnails/one.png"), std::string ("\x89PNG\0\1", 6));
  EXPECT_EQ (read ("area/thumbnails/cache/two.png"), "two");
  EXPECT_EQ (read ("area/app.lock"), "lock");
  for (const char *gone : { "area/dump.vcf", "area/sub", "area/to-folder" })
    EXPECT_FALSE (exists (gone)) << gone;
  expect_outside_untouched ();

  g_autoptr (GError) everything_error = NULL;
  EXPECT_TRUE (sf_tree_removal_remove (path ("area/").c_str (), NULL, &everything_error));
  EXPECT_FALSE (exists ("area"));
  expect_outside_untouched ();

  g_autoptr (GError) missing = NULL;
  EXPECT_FALSE (sf_tree_removal_remove (path ("area").c_str (), NULL, &missing));
  EXPECT_TRUE (g_error_matches (missing, G_IO_ERROR, G_IO_ERROR_NOT_FOUND));
  g_autoptr (GError) slash = NULL;
  EXPECT_FALSE (sf_tree_removal_remove ("/tmp/..", NULL, &slash));
  EXPECT_NE (slash, nullptr);
}

TEST_F (TreeRemovalTest, APathThatIsALinkLosesOnlyTheLink)
{
  write ("outside/precious", "the user's own");
  write ("outside/deep/er", "also the user's");
  link (path ("outside"), "linked-folder");
  link (path ("outside/precious"), "linked-file");
  for (const char *linked : { "linked-folder", "linked-file" })
    {
      g_autoptr (GError) error = NULL;
      EXPECT_TRUE (sf_tree_removal_remove (path (linked).c_str (), NULL, &error)) << linked;
      EXPECT_FALSE (exists (linked));
    }
  expect_outside_untouched ();
}

/* Every path lies below the test's own folder, the install home included: a fault here removes
 * nothing of the user's. */
TEST_F (TreeRemovalTest, ClearingALocationSparesItsCategoriesExclusionsOnly)
{
  std::string area = path ("install/notes/export");
  write ("data/applications/notes.conf",
         "<backup-configuration><application-name>notes</application-name>"
         "<application-type>korvel</application-type><backup-method>backup-dbus</backup-method>"
         "<backup-dbus><dbus-service object=\"/n\">n.s</dbus-service></backup-dbus><locations>"
         "<location type=\"dir\" category=\"organizer\">"
             + area + "</location><exclusion type=\"dir\" category=\"organizer\">" + area
             + "/thumbnails</exclusion><exclusion type=\"file\" category=\"emails\">" + area
             + "/*.eml</exclusion></locations></backup-configuration>");
  /* A third party's exclusion outside its own locations thins nothing, in a backup or here. */
  write ("install/usr/share/safehold/applications/other.conf",
         "<backup-configuration><application-name>other</application-name>"
         "<application-type>third-party</application-type><backup-method>backup-dbus"
         "</backup-method><backup-dbus><dbus-service object=\"/o\">o.s</dbus-service></backup-dbus>"
         "<locations><location type=\"dir\" category=\"organizer\">"
             + path ("install/other")
             + "</location><exclusion type=\"file\" category=\"organizer\">" + area
             + "/*.txt</exclusion></locations></backup-configuration>");
  g_setenv ("INSTALLHOME", path ("install").c_str (), TRUE);
  sf_backup_configurations_init (path ("data").c_str ());
  g_unsetenv ("INSTALLHOME");
  ASSERT_NE (sf_backup_configurations_get_applications_in_category (SF_CATEGORY_ORGANIZER),
             nullptr);
  for (const char *name : { "thumbnails/a.png", "thumbnails/b/c.png", "note.txt", "mail.eml" })
    write (std::string ("install/notes/export/") + name, name);
  write ("install/notes/export/linked", "linked");
  ASSERT_EQ (::link (path ("install/notes/export/linked").c_str (), path ("elsewhere").c_str ()),
             0);

  /* The measure counts what the clearing below removes and frees, nothing else. */
  guint64 expected = 0;
  for (const char *gone : { "note.txt", "mail.eml" })
    {
      struct stat info;
      ASSERT_EQ (lstat (path (std::string ("install/notes/export/") + gone).c_str (), &info), 0);
      expected += (guint64)info.st_blocks * 512;
    }
  EXPECT_EQ (freed_by_clearing (area, SF_CATEGORY_ORGANIZER), expected);

  g_autoptr (GError) error = NULL;
  EXPECT_TRUE (sf_tree_removal_clear_location (area.c_str (), SF_CATEGORY_ORGANIZER, &error));
  for (const char *kept : { "thumbnails/a.png", "thumbnails/b/c.png" })
    EXPECT_EQ (read (std::string ("install/notes/export/") + kept), kept);
  EXPECT_FALSE (exists ("install/notes/export/note.txt"));
  EXPECT_FALSE (exists ("install/notes/export/mail.eml"))
      << "another category's exclusion spares nothing here";

  g_autoptr (GError) missing = NULL;
  EXPECT_TRUE (
      sf_tree_removal_clear_location (path ("absent").c_str (), SF_CATEGORY_ORGANIZER, &missing));

  /* Whatever a caller passes, a protected folder stays: here a memory card's mount point. */
  write ("card/.backups/Backup0/contacts.zip", "zip");
  g_setenv ("MMC_MOUNTPOINT", path ("card").c_str (), TRUE);
  g_autoptr (GError) refused = NULL;
  EXPECT_FALSE (
      sf_tree_removal_clear_location (path ("card").c_str (), SF_CATEGORY_ORGANIZER, &refused));
  EXPECT_EQ (freed_by_clearing (path ("card"), SF_CATEGORY_ORGANIZER), 0u);
  g_unsetenv ("MMC_MOUNTPOINT");
  EXPECT_EQ (read ("card/.backups/Backup0/contacts.zip"), "zip");
}
} // namespace
