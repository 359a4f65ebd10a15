#include "sf-log.h"
#include "sf-utils.h"

#include "dbus-mock.h"
#include "log-capture.h"

#include <gtest/gtest.h>
#include <string>

namespace
{
std::string
expand (const char *text)
{
  g_autofree gchar *path = sf_utils_expand_path (text);
  return path != NULL ? std::string ("=") + path : "(none)";
}

/* Runs body with the system bus address pointing at no bus. */
template <typename Body>
void
without_system_bus (Body body)
{
  std::string saved = g_getenv ("DBUS_SYSTEM_BUS_ADDRESS");
  g_setenv ("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/system_bus_socket", TRUE);
  body ();
  g_setenv ("DBUS_SYSTEM_BUS_ADDRESS", saved.c_str (), TRUE);
}

class RebootTest : public ::testing::Test
{
protected:
  void SetUp () override
  {
    sf_log_start (2);
    g_unsetenv ("SF_DEBUG");
    g_unsetenv ("SF_NO_REBOOT");
  }

  DBusMock vigil_{ G_BUS_TYPE_SYSTEM, "com.korvel.vigil", "/com/korvel/vigil/request",
                   "com.korvel.vigil.request" };
  LogCapture log_;
};
} // namespace

TEST (ExpandPath, HomeTrimAndOneTrailingSlash)
{
  std::string home = g_get_home_dir ();
  EXPECT_EQ (expand ("  $HOME/Docs/ \n"), "=" + home + "/Docs");
  EXPECT_EQ (expand ("$HOME/"), "=" + home);
  EXPECT_EQ (expand ("/"), "=");
  EXPECT_EQ (expand ("/a//"), "=/a/");
  EXPECT_EQ (expand ("/tmp/$HOME"), "=/tmp/$HOME");
  EXPECT_EQ (expand ("$HOME"), "(none)");
  EXPECT_EQ (expand ("$HOMEx/a"), "(none)");
  EXPECT_EQ (expand ("a/b"), "(none)");
  EXPECT_EQ (expand (""), "(none)");
  EXPECT_EQ (expand (NULL), "(none)");
}

TEST (InstallHome, EnvironmentOrDefault)
{
  g_unsetenv ("INSTALLHOME");
  g_autofree gchar *fallback = sf_utils_get_install_home ();
  EXPECT_STREQ (fallback, "/var/lib/install");
  g_setenv ("INSTALLHOME", "/opt/install", TRUE);
  g_autofree gchar *configured = sf_utils_get_install_home ();
  EXPECT_STREQ (configured, "/opt/install");
  g_unsetenv ("INSTALLHOME");
}

TEST_F (RebootTest, SendsExactlyOneRequest)
{
  vigil_.add_method ("req_reboot", "", "", "");
  sf_utils_reboot ();
  EXPECT_EQ (vigil_.wait_for_calls ("req_reboot", 1), 1u);
  g_usleep (200 * 1000);
  std::vector<DBusMock::Call> calls = vigil_.calls ();
  ASSERT_EQ (calls.size (), 1u);
  EXPECT_EQ (calls[0].method, "req_reboot");
  EXPECT_TRUE (log_.contains ("Sent, quit the application."));
}

TEST_F (RebootTest, SwitchesCountWhateverTheirValue)
{
  vigil_.add_method ("req_reboot", "", "", "");
  g_setenv ("SF_NO_REBOOT", "", TRUE);
  sf_utils_reboot ();
  g_unsetenv ("SF_NO_REBOOT");
  g_setenv ("SF_DEBUG", "0", TRUE);
  sf_utils_reboot ();
  g_unsetenv ("SF_DEBUG");
  g_usleep (300 * 1000);
  EXPECT_TRUE (vigil_.calls ().empty ());
  EXPECT_FALSE (log_.contains ("Sending reboot."));
}

TEST_F (RebootTest, NoSystemBusOnlyLogs)
{
  without_system_bus ([] {
    sf_utils_reboot ();
    sf_utils_suggest_gconf_sync ();
  });
  EXPECT_EQ (log_.count ("Could not get system bus."), 2u);
  EXPECT_FALSE (log_.contains ("Sending reboot."));
}

TEST_F (RebootTest, GConfSyncNeedsTheDaemon)
{
  sf_utils_suggest_gconf_sync ();
  EXPECT_TRUE (log_.contains ("GConf not running? Couldn't suggest sync"));
  EXPECT_FALSE (log_.contains ("Suggesting gconf sync"));
}
