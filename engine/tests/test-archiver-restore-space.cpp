#include "archiver-test-support.h"

#include <sys/wait.h>

namespace
{
const char *const inside_variable = "SF_TEST_SMALL_VAR_TMP";

/* Runs this test again in a private mount namespace with a 1 MiB tmpfs over /var/tmp, where the
 * restore keeps its temporary files. */
int
run_in_namespace (const char *self, const char *filter)
{
  g_autofree gchar *command = g_strdup_printf (
      "unshare -m /bin/sh -c 'mount -t tmpfs -o size=1M tmpfs /var/tmp || exit 77; "
      "%s=1 exec \"$0\" --gtest_filter=\"$1\"' '%s' '%s'",
      inside_variable, self, filter);
  return system (command);
}

class RestoreSpace : public ArchiverTest
{
};
} // namespace

TEST_F (RestoreSpace, TooLittleRoomLeavesTheDestinationAsItWas)
{
  if (g_getenv (inside_variable) == NULL)
    {
      if (system ("unshare -m true 2>/dev/null") != 0)
        GTEST_SKIP () << "cannot make a private mount namespace here";
      g_autofree gchar *self = g_file_read_link ("/proc/self/exe", NULL);
      int status = run_in_namespace (self, "RestoreSpace.*");
      if (WIFEXITED (status) && WEXITSTATUS (status) == 77)
        GTEST_SKIP () << "cannot mount a tmpfs over /var/tmp in a private namespace";
      EXPECT_TRUE (WIFEXITED (status) && WEXITSTATUS (status) == 0)
          << "the test failed inside its mount namespace";
      return;
    }

  write_file (data_ + "/contacts/big.bin", random_bytes (700 * 1024, 11));
  write_file (data_ + "/contacts/small.vcf", "small");
  g_autoptr (SfBackupInfo) info = new_info ("Backup0", SF_CATEGORY_CONTACTS);
  Outcome backed_up;
  backup (info, &backed_up);
  ASSERT_TRUE (backed_up.finished);

  write_file (data_ + "/contacts/big.bin", "what the user has now", 0600, 1650000000);
  std::map<std::string, FileState> before = snapshot (data_);
  Outcome restored;
  restore ("Backup0", SF_CATEGORY_CONTACTS, &restored);
  ASSERT_TRUE (restored.finished);
  EXPECT_TRUE (log_.contains ("Restore, not enough space"));
  std::map<std::string, FileState> after = snapshot (data_);
  EXPECT_EQ (after[data_ + "/contacts/big.bin"], before[data_ + "/contacts/big.bin"]);
  EXPECT_EQ (after[data_ + "/contacts/small.vcf"].content, "small");
}
