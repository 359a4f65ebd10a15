#include "dbus-mock.h"
#include "tmpfs-mount.h"

#include <cerrno>
#include <fcntl.h>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

TEST (Harness, PrivateBusesAndSandboxedHome)
{
  const char *session = g_getenv ("DBUS_SESSION_BUS_ADDRESS");
  const char *system = g_getenv ("DBUS_SYSTEM_BUS_ADDRESS");
  ASSERT_NE (session, nullptr);
  ASSERT_NE (system, nullptr);
  EXPECT_STRNE (session, system);
  EXPECT_EQ (std::string (system).find ("/run/dbus"), std::string::npos);

  std::string home = g_get_home_dir ();
  EXPECT_EQ (home.rfind (g_get_tmp_dir (), 0), 0u) << home;
  EXPECT_TRUE (g_file_test (home.c_str (), G_FILE_TEST_IS_DIR));

  /* A mock on the system bus is not visible on the session bus. */
  DBusMock mock (G_BUS_TYPE_SYSTEM, "com.example.Probe", "/probe", "com.example.Probe");
  mock.add_method ("Ping", "s", "s", "ret = args[0]");
  g_autoptr (GVariant) reply = g_dbus_connection_call_sync (
      mock.connection (), "com.example.Probe", "/probe", "com.example.Probe", "Ping",
      g_variant_new ("(s)", "x"), G_VARIANT_TYPE ("(s)"), G_DBUS_CALL_FLAGS_NONE, -1, NULL, NULL);
  ASSERT_NE (reply, nullptr);
  std::vector<DBusMock::Call> calls = mock.calls ();
  ASSERT_EQ (calls.size (), 1u);
  EXPECT_EQ (calls[0].args, "('x',)");

  g_autoptr (GDBusConnection) session_bus = g_bus_get_sync (G_BUS_TYPE_SESSION, NULL, NULL);
  ASSERT_NE (session_bus, nullptr);
  g_autoptr (GVariant) owner = g_dbus_connection_call_sync (
      session_bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "NameHasOwner", g_variant_new ("(s)", "com.example.Probe"), G_VARIANT_TYPE ("(b)"),
      G_DBUS_CALL_FLAGS_NONE, -1, NULL, NULL);
  gboolean owned = TRUE;
  g_variant_get (owner, "(b)", &owned);
  EXPECT_FALSE (owned);
}

TEST (Harness, TmpfsFillsUpAndGoesAway)
{
  std::string path;
  {
    TmpfsMount tmpfs ("64k");
    SKIP_UNLESS_MOUNTED (tmpfs);
    path = tmpfs.path ();
    std::string file = path + "/fill";
    int fd = open (file.c_str (), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE (fd, 0);
    char block[4096] = {};
    ssize_t written = 0;
    int saved_errno = 0;
    for (int i = 0; i < 64 && written >= 0; i++)
      {
        written = write (fd, block, sizeof block);
        saved_errno = errno;
      }
    close (fd);
    EXPECT_LT (written, 0);
    EXPECT_EQ (saved_errno, ENOSPC);
  }
  EXPECT_FALSE (g_file_test (path.c_str (), G_FILE_TEST_EXISTS));
}
