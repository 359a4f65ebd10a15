#include "sf-config.h"
#include "sf-log.h"

#include "log-capture.h"

#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <string>

namespace
{
class Config : public ::testing::Test
{
protected:
  void SetUp () override
  {
    sf_log_start (2);
    dir_ = g_dir_make_tmp ("config-XXXXXX", NULL);
    g_unsetenv ("MYDOCSDIR");
  }

  void TearDown () override
  {
    sf_config_free ();
    g_autofree gchar *file = g_build_filename (dir_, "safehold.conf", NULL);
    g_remove (file);
    g_rmdir (dir_);
    g_free (dir_);
  }

  void write_config (const std::string &body)
  {
    g_autofree gchar *file = g_build_filename (dir_, "safehold.conf", NULL);
    ASSERT_TRUE (g_file_set_contents (file, body.c_str (), -1, NULL));
  }

  static std::string path_of (GFile *file)
  {
    if (file == NULL)
      return "(unset)";
    g_autofree gchar *path = g_file_get_path (file);
    return path;
  }

  std::string home (const std::string &rest)
  {
    return std::string (g_get_home_dir ()) + rest;
  }

  gchar *dir_ = nullptr;
  LogCapture log_;
};
} // namespace

TEST_F (Config, FirstDirectoryWinsAndDocumentsDefaultToMyDocs)
{
  write_config ("<backup-configuration>"
                "  <gconf-dir> $HOME/.gconf/ </gconf-dir>"
                "  <gconf-dir>/second</gconf-dir>"
                "  <app-killer-delay>7</app-killer-delay>"
                "  <app-killer-delay>9x</app-killer-delay>"
                "  <unknown>ignored</unknown>"
                "</backup-configuration>");
  sf_config_init (dir_);
  SfConfig *config = sf_config_get ();
  ASSERT_NE (config, nullptr);
  EXPECT_EQ (path_of (sf_config_get_gconf_dir (config)), home ("/.gconf"));
  EXPECT_EQ (path_of (sf_config_get_documents_dir (config)), home ("/MyDocs"));
  EXPECT_EQ (sf_config_get_app_killer_delay (config), 9) << "a later element overrides";
  EXPECT_TRUE (log_.contains ("Already got gconf dir in config."));

  sf_config_init (dir_);
  EXPECT_TRUE (log_.contains ("Config already inited."));
  EXPECT_EQ (sf_config_get (), config);
}

TEST_F (Config, InvalidPathsAreRejectedAndEnvironmentWins)
{
  write_config ("<backup-configuration>"
                "  <gconf-dir>relative/gconf</gconf-dir>"
                "  <documents-path>$HOMEx/docs</documents-path>"
                "  <documents-path>/media/docs</documents-path>"
                "  <app-killer-delay/>"
                "</backup-configuration>");
  sf_config_init (dir_);
  SfConfig *config = sf_config_get ();
  EXPECT_EQ (sf_config_get_gconf_dir (config), nullptr);
  EXPECT_EQ (path_of (sf_config_get_documents_dir (config)), "/media/docs")
      << "a rejected first path does not count as set";
  EXPECT_EQ (sf_config_get_app_killer_delay (config), 5);
  EXPECT_TRUE (log_.contains ("Invalid gconf dir found in config."));
  EXPECT_TRUE (log_.contains ("Invalid documents dir found in config."));
  EXPECT_TRUE (log_.contains ("Path after $HOME must be absolute ($HOMEx/docs)."));
  EXPECT_TRUE (log_.contains ("Path must be absolute (relative/gconf)."));
  sf_config_free ();

  g_setenv ("MYDOCSDIR", "/run/docs", TRUE);
  sf_config_init (dir_);
  EXPECT_EQ (path_of (sf_config_get_documents_dir (sf_config_get ())), "/run/docs");
  g_unsetenv ("MYDOCSDIR");
}

TEST_F (Config, UnreadableFilesGiveTheDefaults)
{
  for (const char *body : { "<backup-configuration><gconf-dir>/g</gconf-dir>", "<other/>", "" })
    {
      write_config (body);
      log_.clear ();
      sf_config_init (dir_);
      SfConfig *config = sf_config_get ();
      EXPECT_EQ (sf_config_get_gconf_dir (config), nullptr) << body;
      EXPECT_EQ (sf_config_get_documents_dir (config), nullptr) << body;
      EXPECT_EQ (sf_config_get_app_killer_delay (config), 5) << body;
      EXPECT_TRUE (log_.contains ("No valid backup configuration found.")) << body;
      sf_config_free ();
    }

  sf_config_init ("/nonexistent-directory");
  EXPECT_TRUE (log_.contains ("No valid backup configuration found."));
  EXPECT_EQ (sf_config_get_app_killer_delay (NULL), 5);
  EXPECT_TRUE (log_.contains ("config != NULL"));
}

TEST_F (Config, ShippedConfigurationIsValid)
{
  sf_config_init (SAFEHOLD_SOURCE_DIR "/data");
  SfConfig *config = sf_config_get ();
  EXPECT_FALSE (log_.contains ("No valid backup configuration found."));
  EXPECT_EQ (path_of (sf_config_get_gconf_dir (config)), home ("/.gconf"));
  EXPECT_EQ (path_of (sf_config_get_documents_dir (config)), home ("/MyDocs"));
}
