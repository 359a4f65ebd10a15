#include "log-capture.h"
#include "sf-log.h"
#include "sf-target-fake.h"
#include "sf-target-manager.h"
#include "sf-target-mount.h"
#include "target-test-support.h"
#include "test-mount.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

/* One process-wide manager over fake targets: the tests run in order on it, the last one
 * releases it. */
namespace
{
std::string base_dir;

std::string
fake_dir (const char *name)
{
  return base_dir + "/" + name;
}

std::vector<std::string>
target_names (SfTargetManager *manager)
{
  std::vector<std::string> names;
  for (GList *link = sf_target_manager_get_targets (manager); link != NULL; link = link->next)
    names.push_back (sf_target_get_display_name (SF_TARGET (link->data)));
  return names;
}

void
record_target (SfTargetManager *, SfTarget *target, gpointer targets)
{
  static_cast<std::vector<SfTarget *> *> (targets)->push_back (target);
}

class TargetManagerTest : public ::testing::Test
{
protected:
  static void SetUpTestSuite ()
  {
    sf_log_start (2);
    base_dir = make_temp_dir ("fake-mmc-XXXXXX");
    for (const char *marked : { "card", "extra", "internal" })
      {
        g_mkdir (fake_dir (marked).c_str (), 0700);
        g_file_set_contents ((fake_dir (marked) + "/mounted").c_str (), "", 0, NULL);
      }
    g_mkdir (fake_dir ("plain").c_str (), 0700);
    g_file_set_contents (fake_dir ("stray").c_str (), "", 0, NULL);
    g_setenv ("FAKE_MMC_DIR", base_dir.c_str (), TRUE);
    g_setenv ("INTERNAL_MMC_MOUNTPOINT", fake_dir ("internal").c_str (), TRUE);
    g_setenv ("MMC_MOUNTPOINT", fake_dir ("card").c_str (), TRUE);
  }
};

TEST_F (TargetManagerTest, MarkedFakeDirectoriesBecomeTargetsInternalFirst)
{
  SfTargetManager *manager = sf_target_manager_get ();
  EXPECT_EQ (manager, sf_target_manager_get ());
  EXPECT_EQ ((std::vector<std::string>{ "internal", "card", "extra" }), target_names (manager));
  for (GList *link = sf_target_manager_get_targets (manager); link != NULL; link = link->next)
    {
      SfTarget *target = SF_TARGET (link->data);
      EXPECT_TRUE (SF_IS_TARGET_FAKE (target));
      EXPECT_TRUE (sf_target_get_is_available (target));
      EXPECT_FALSE (sf_target_get_is_read_only (target));
    }
  EXPECT_EQ (uri_of (fake_dir ("card")),
             sf_target_get_uri (SF_TARGET (sf_target_manager_get_targets (manager)->next->data)));

  LogCapture log;
  EXPECT_EQ (nullptr, sf_target_fake_setup ());
  EXPECT_TRUE (log.contains ("Fake targets already set up."));
}

TEST_F (TargetManagerTest, BackupsOfAllTargetsAndTheTargetThatHoldsOne)
{
  SfTargetManager *manager = sf_target_manager_get ();
  std::vector<SfTarget *> changed;
  gulong handler
      = g_signal_connect (manager, "target-backups-changed", G_CALLBACK (record_target), &changed);
  make_backup_on_disk (fake_dir ("internal") + "/.backups", "A", 1000);
  make_backup_on_disk (fake_dir ("card") + "/.backups", "B", 3000);
  make_backup_on_disk (fake_dir ("extra") + "/.backups", "B", 2000);
  SfTarget *card = SF_TARGET (sf_target_manager_get_targets (manager)->next->data);
  ASSERT_TRUE (run_until (
      [&] { return std::find (changed.begin (), changed.end (), card) != changed.end (); }));
  run_for (500);

  GList *backups = sf_target_manager_get_backups (manager);
  ASSERT_EQ (3u, g_list_length (backups));
  std::vector<std::string> uris;
  for (GList *link = backups; link != NULL; link = link->next)
    {
      g_autofree gchar *uri = g_file_get_uri (sf_backup_info_get_uri ((SfBackupInfo *)link->data));
      uris.push_back (uri);
    }
  EXPECT_EQ ((std::vector<std::string>{ uri_of (fake_dir ("internal") + "/.backups/A"),
                                        uri_of (fake_dir ("card") + "/.backups/B"),
                                        uri_of (fake_dir ("extra") + "/.backups/B") }),
             uris);

  SfTarget *extra = SF_TARGET (g_list_last (sf_target_manager_get_targets (manager))->data);
  EXPECT_EQ (extra, sf_target_manager_get_target_from_backup (
                        manager, (SfBackupInfo *)backups->next->next->data));
  g_list_free (backups);

  /* Same name as a backup on the internal memory, but stored somewhere else. */
  make_backup_on_disk (fake_dir ("plain"), "A", 1000);
  g_autoptr (GFile) plain = g_file_new_for_path (fake_dir ("plain").c_str ());
  SfBackupInfo *stranger = sf_backup_info_list_get_by_name (plain, "A");
  ASSERT_NE (nullptr, stranger);
  EXPECT_EQ (nullptr, sf_target_manager_get_target_from_backup (manager, stranger));
  sf_backup_info_unref (stranger);
  g_signal_handler_disconnect (manager, handler);
}

struct LoadWatch
{
  gint completions = 0;
  gint released = 0;
  GThread *thread = nullptr;
  SfTarget *target = nullptr;
};

/* Holds the loading thread until the test lets it go, so a second start surely overlaps. */
void
on_load_complete (SfTargetManager *, SfTarget *target, gpointer data)
{
  LoadWatch *watch = static_cast<LoadWatch *> (data);
  while (!g_atomic_int_get (&watch->released))
    g_usleep (1000);
  watch->thread = g_thread_self ();
  watch->target = target;
  g_atomic_int_inc (&watch->completions);
}

TEST_F (TargetManagerTest, LoadingTwiceQuicklyStartsOneThread)
{
  SfTargetManager *manager = sf_target_manager_get ();
  LoadWatch watch;
  gulong handler = g_signal_connect (manager, "backup-list-load-complete",
                                     G_CALLBACK (on_load_complete), &watch);
  LogCapture log;
  /* The loader clears its mark right after this line; held there, it is surely still loading
   * when the second start comes, however the threads are scheduled. */
  log.set_hook ([&watch] (const std::string &message) {
    if (message.find ("backup list loading complete") != std::string::npos)
      while (!g_atomic_int_get (&watch.released))
        g_usleep (1000);
  });
  sf_target_manager_load_backups_async (manager);
  sf_target_manager_load_backups_async (manager);
  EXPECT_EQ (1u, log.count ("starting to load the list"));
  EXPECT_EQ (1u, log.count ("list load is already in progress, ignored"));
  g_atomic_int_set (&watch.released, 1);

  ASSERT_TRUE (run_until ([&] { return g_atomic_int_get (&watch.completions) == 1; }));
  run_for (300);
  EXPECT_EQ (1, g_atomic_int_get (&watch.completions));
  EXPECT_NE (g_thread_self (), watch.thread) << "emitted from the loading thread";
  EXPECT_EQ (nullptr, watch.target);
  EXPECT_EQ (1u, log.count ("backup list loading complete, emitting signal"));

  sf_target_manager_load_backups_async (manager);
  ASSERT_TRUE (run_until ([&] { return g_atomic_int_get (&watch.completions) == 2; }))
      << "a finished load lets the next one start";
  g_signal_handler_disconnect (manager, handler);
}

/* The volume monitor's own signals, emitted here for the card's mount point. */
TEST_F (TargetManagerTest, VolumeEventsOfTheCardMountPoint)
{
  SfTargetManager *manager = sf_target_manager_get ();
  std::vector<SfTarget *> added, removed, will_be_removed;
  g_signal_connect (manager, "target-added", G_CALLBACK (record_target), &added);
  g_signal_connect (manager, "target-removed", G_CALLBACK (record_target), &removed);
  g_signal_connect (manager, "target-will_be_removed", G_CALLBACK (record_target),
                    &will_be_removed);
  g_autoptr (GVolumeMonitor) volumes = g_volume_monitor_get ();
  g_autoptr (GMount) card_mount = make_mount (fake_dir ("card"), "CARD");
  g_autoptr (GMount) other_mount = make_mount (fake_dir ("plain"), "Plain");
  SfTarget *card = SF_TARGET (g_object_ref (sf_target_manager_get_targets (manager)->next->data));

  g_signal_emit_by_name (volumes, "mount-added", card_mount);
  g_signal_emit_by_name (volumes, "mount-added", other_mount);
  EXPECT_TRUE (added.empty ()) << "the card has a target already, the other is not followed";
  g_signal_emit_by_name (volumes, "mount-pre-unmount", card_mount);
  EXPECT_EQ ((std::vector<SfTarget *>{ card }), will_be_removed);
  g_signal_emit_by_name (volumes, "mount-removed", other_mount);
  g_signal_emit_by_name (volumes, "mount-removed", card_mount);
  EXPECT_EQ ((std::vector<SfTarget *>{ card }), removed);
  EXPECT_FALSE (sf_target_get_is_available (card));
  g_object_unref (card);

  g_signal_emit_by_name (volumes, "mount-added", card_mount);
  ASSERT_EQ (1u, added.size ());
  EXPECT_TRUE (SF_IS_TARGET_MOUNT (added[0]));
  EXPECT_EQ ((std::vector<std::string>{ "internal", "Card", "extra" }), target_names (manager));
  g_signal_handlers_disconnect_by_func (manager, (gpointer)record_target, &added);
  g_signal_handlers_disconnect_by_func (manager, (gpointer)record_target, &removed);
  g_signal_handlers_disconnect_by_func (manager, (gpointer)record_target, &will_be_removed);
}

TEST_F (TargetManagerTest, ReleasingRemovesEveryTargetAndFakesAreMadeOnce)
{
  run_for (200); /* finished loads hand their references back on the main loop */
  SfTargetManager *manager = sf_target_manager_get ();
  std::vector<SfTarget *> removed;
  g_signal_connect (manager, "target-removed", G_CALLBACK (record_target), &removed);
  sf_target_manager_release ();
  EXPECT_EQ (3u, removed.size ());

  EXPECT_EQ (nullptr, sf_target_manager_get_targets (sf_target_manager_get ()));
  sf_target_manager_release ();
}
} // namespace
