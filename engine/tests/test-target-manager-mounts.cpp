#include "log-capture.h"
#include "sf-log.h"
#include "sf-target-manager.h"
#include "sf-target-mount.h"
#include "target-test-support.h"

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <vector>

/* Real volumes: GIO's volume monitor reports loop-mounted images below the home directory
 * (tests/with-buses gives a fresh one), not tmpfs. */
namespace
{
bool
run_command (const std::vector<std::string> &arguments, std::string *failure)
{
  std::vector<gchar *> argv;
  for (const std::string &argument : arguments)
    argv.push_back (const_cast<gchar *> (argument.c_str ()));
  argv.push_back (NULL);
  g_autofree gchar *errors = NULL;
  gint status = 0;
  g_autoptr (GError) error = NULL;
  if (!g_spawn_sync (NULL, argv.data (), NULL, G_SPAWN_SEARCH_PATH, NULL, NULL, NULL, &errors,
                     &status, &error))
    {
      *failure = error->message;
      return false;
    }
  if (!g_spawn_check_wait_status (status, NULL))
    {
      *failure = arguments[0] + ": " + errors;
      return false;
    }
  return true;
}

/* An 8 MiB ext4 image mounted on a directory; unmounted when it goes. */
class LoopMount
{
public:
  explicit LoopMount (const std::string &path) : path_ (path)
  {
    image_ = path + ".img";
    g_mkdir_with_parents (path.c_str (), 0755);
    mounted_ = run_command ({ "truncate", "-s", "8M", image_ }, &reason_)
               && run_command ({ "mkfs.ext4", "-q", "-F", image_ }, &reason_)
               && run_command ({ "mount", "-o", "loop", image_, path_ }, &reason_);
  }

  ~LoopMount ()
  {
    unmount ();
    g_unlink (image_.c_str ());
  }

  void unmount ()
  {
    if (mounted_ && umount2 (path_.c_str (), 0) != 0)
      umount2 (path_.c_str (), MNT_DETACH);
    mounted_ = false;
  }

  bool mounted_ = false;
  std::string reason_;

private:
  std::string path_;
  std::string image_;
};

void
record_target (SfTargetManager *, SfTarget *target, gpointer targets)
{
  static_cast<std::vector<SfTarget *> *> (targets)->push_back (target);
}

std::vector<std::string>
target_uris (SfTargetManager *manager)
{
  std::vector<std::string> uris;
  for (GList *link = sf_target_manager_get_targets (manager); link != NULL; link = link->next)
    uris.push_back (sf_target_get_uri (SF_TARGET (link->data)));
  return uris;
}

TEST (TargetManagerMountsTest, VolumesMountedLaterAreFollowedAndTheInternalOneSortsFirst)
{
  sf_log_start (2);
  std::string card_path = std::string (g_get_home_dir ()) + "/MyCARD";
  std::string internal_path = std::string (g_get_home_dir ()) + "/Internal";
  g_setenv ("MMC_MOUNTPOINT", card_path.c_str (), TRUE);
  g_setenv ("INTERNAL_MMC_MOUNTPOINT", internal_path.c_str (), TRUE);
  g_unsetenv ("FAKE_MMC_DIR");

  /* Nothing mounted and no fake directory named: no target, and no harm. */
  SfTargetManager *manager = sf_target_manager_get ();
  EXPECT_EQ (nullptr, sf_target_manager_get_targets (manager));
  std::vector<SfTarget *> added;
  std::vector<SfTarget *> removed;
  g_signal_connect (manager, "target-added", G_CALLBACK (record_target), &added);
  g_signal_connect (manager, "target-removed", G_CALLBACK (record_target), &removed);

  LoopMount card (card_path);
  if (!card.mounted_)
    {
      sf_target_manager_release ();
      GTEST_SKIP () << "cannot mount a loop image: " << card.reason_;
    }
  if (!run_until ([&] { return added.size () == 1; }, 5000))
    {
      sf_target_manager_release ();
      GTEST_SKIP () << "the volume monitor does not report loop mounts below the home directory";
    }
  SfTarget *card_target = added[0];
  EXPECT_TRUE (SF_IS_TARGET_MOUNT (card_target));
  EXPECT_EQ (uri_of (card_path), sf_target_get_uri (card_target));
  EXPECT_STREQ ("Mycard", sf_target_get_display_name (card_target));
  EXPECT_TRUE (sf_target_get_is_available (card_target));

  LoopMount internal (internal_path);
  ASSERT_TRUE (internal.mounted_) << internal.reason_;
  ASSERT_TRUE (run_until ([&] { return added.size () == 2; }));
  EXPECT_EQ ((std::vector<std::string>{ uri_of (internal_path), uri_of (card_path) }),
             target_uris (manager));
  run_for (1000);
  EXPECT_EQ (2u, added.size ()) << "each mount is added once";

  g_object_ref (card_target);
  card.unmount ();
  ASSERT_TRUE (run_until ([&] { return removed.size () == 1; }));
  EXPECT_EQ (card_target, removed[0]);
  EXPECT_FALSE (sf_target_get_is_available (card_target));
  g_object_unref (card_target);
  EXPECT_EQ ((std::vector<std::string>{ uri_of (internal_path) }), target_uris (manager));

  sf_target_manager_release ();
  EXPECT_EQ (2u, removed.size ());
}
} // namespace
