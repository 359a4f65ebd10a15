#include "archiver-test-support.h"
#include "crafted-archive.h"
#include "tmpfs-mount.h"

#include <sys/wait.h>

namespace
{
const char *const inside_variable = "SF_TEST_PRIVATE_VAR_TMP";

/* Runs this test again in a private mount namespace with an empty tmpfs over /var/tmp, so that
 * whatever the restore might put there can be seen. */
int
run_in_namespace (const char *self, const char *filter)
{
  g_autofree gchar *command = g_strdup_printf (
      "unshare -m /bin/sh -c 'mount -t tmpfs -o size=4M tmpfs /var/tmp || exit 77; "
      "%s=1 exec \"$0\" --gtest_filter=\"$1\"' '%s' '%s'",
      inside_variable, self, filter);
  return system (command);
}

class RestoreSpace : public ArchiverTest
{
protected:
  gint reason (SfCategory category)
  {
    SfRestoreFailure *failure = sf_backend_get_restore_failure (backend ());
    return failure != nullptr ? sf_restore_failure_get_category_reason (failure, category) : -2;
  }
};
} // namespace

TEST_F (RestoreSpace, EachFileIsWholeOnItsOwnFileSystem)
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

  TmpfsMount small ("1M");
  TmpfsMount roomy ("4M");
  SKIP_UNLESS_MOUNTED (small);
  SKIP_UNLESS_MOUNTED (roomy);
  std::string card = small.path () + "/contacts";
  std::string other = roomy.path () + "/mail";
  sf_backup_configurations_free ();
  declare ("card", "<location type=\"dir\" category=\"contacts\">" + card
                       + "</location><location type=\"dir\" category=\"emails\">" + other
                       + "</location>");
  sf_backup_configurations_init (config_.c_str ());

  write_file (card + "/big.bin", "what the user has now", 0600, 1650000000);
  write_file (other + "/big.bin", "old mail", 0600, 1650000000);
  /* Left by a restore that was killed. */
  write_file (other + "/.sf-restore-0badf00d", "half a file");
  std::string big = random_bytes (700 * 1024, 11);
  g_autoptr (SfBackupInfo) info = new_info ("Backup0", SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS);
  CraftedArchive (
      { { "Root" + card + "/big.bin", big }, { "Root" + card + "/small.vcf", "small" } })
      .save (info, SF_CATEGORY_CONTACTS, 2, big.size () + 5);
  CraftedArchive ({ { "Root" + other + "/big.bin", big } })
      .save (info, SF_CATEGORY_EMAILS, 1, big.size ());

  Outcome restored;
  restore ("Backup0", SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS, &restored);
  ASSERT_TRUE (restored.finished);
  EXPECT_TRUE (log_.contains ("Restore, not enough space"));

  std::map<std::string, FileState> on_card = snapshot (card);
  EXPECT_EQ (on_card.size (), 2u) << "no temporary file is left";
  EXPECT_EQ (on_card[card + "/big.bin"], (FileState{ "what the user has now", 0600, 1650000000 }));
  EXPECT_EQ (on_card[card + "/small.vcf"].content, "small");
  EXPECT_EQ (reason (SF_CATEGORY_CONTACTS), SF_RESTORE_FAILURE_INSUFFICIENT_SPACE);

  std::map<std::string, FileState> in_other = snapshot (other);
  EXPECT_EQ (in_other.size (), 1u) << "the leftover temporary file is gone";
  EXPECT_EQ (in_other[other + "/big.bin"].content, big);
  EXPECT_EQ (reason (SF_CATEGORY_EMAILS), -1);
  EXPECT_TRUE (snapshot ("/var/tmp").empty ());
  EXPECT_EQ (sf_backend_get_written_categories (backend ()),
             SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS);
}
