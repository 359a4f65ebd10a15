#include "sf-target-manager.h"

#include "sf-log.h"
#include "sf-target-fake.h"
#include "sf-target-mount.h"

enum
{
  TARGET_ADDED,
  TARGET_REMOVED,
  TARGET_WILL_BE_REMOVED,
  TARGET_BACKUPS_CHANGED,
  BACKUP_LIST_LOAD_COMPLETE,
  N_SIGNALS
};

struct _SfTargetManager
{
  GObject parent_instance;
  GList *targets;
  gint loading;
  GVolumeMonitor *volume_monitor;
};

G_DEFINE_FINAL_TYPE (SfTargetManager, sf_target_manager, G_TYPE_OBJECT)

namespace
{
guint signals[N_SIGNALS];
SfTargetManager *the_manager;

/* What one list load works on: the targets as they were when it started, so that the main loop
 * may add and remove targets meanwhile. */
struct ListLoad
{
  SfTargetManager *manager;
  GList *targets;
};

gchar *
mount_point_uri (const gchar *variable)
{
  const gchar *path = g_getenv (variable);
  return path != NULL ? g_filename_to_uri (path, NULL, NULL) : NULL;
}

gint
rank (gconstpointer target)
{
  const gchar *uri = sf_target_get_uri (SF_TARGET ((gpointer)target));
  g_autofree gchar *internal_uri = mount_point_uri ("INTERNAL_MMC_MOUNTPOINT");
  g_autofree gchar *card_uri = mount_point_uri ("MMC_MOUNTPOINT");
  if (g_strcmp0 (uri, internal_uri) == 0)
    return 0;
  return g_strcmp0 (uri, card_uri) == 0 ? 1 : 2;
}

gint
compare_targets (gconstpointer a, gconstpointer b)
{
  return rank (a) - rank (b);
}

/* The root URI of a mount of the internal memory or the card; NULL for any other mount. */
gchar *
followed_mount_uri (GMount *mount)
{
  g_autoptr (GFile) root = g_mount_get_root (mount);
  g_autofree gchar *uri = g_file_get_uri (root);
  g_autofree gchar *internal_uri = mount_point_uri ("INTERNAL_MMC_MOUNTPOINT");
  g_autofree gchar *card_uri = mount_point_uri ("MMC_MOUNTPOINT");
  if (g_strcmp0 (uri, internal_uri) == 0 || g_strcmp0 (uri, card_uri) == 0)
    return g_steal_pointer (&uri);
  return NULL;
}

SfTarget *
find_target (SfTargetManager *manager, const gchar *uri)
{
  for (GList *link = manager->targets; link != NULL; link = link->next)
    if (g_strcmp0 (sf_target_get_uri (SF_TARGET (link->data)), uri) == 0)
      return SF_TARGET (link->data);
  return NULL;
}

void
on_target_backups_changed (SfTarget *target, gpointer user_data)
{
  g_signal_emit (user_data, signals[TARGET_BACKUPS_CHANGED], 0, target);
}

/* Takes the reference. */
void
add_target (SfTargetManager *manager, SfTarget *target)
{
  manager->targets = g_list_sort (g_list_prepend (manager->targets, target), compare_targets);
  g_signal_connect (target, "backups-changed", G_CALLBACK (on_target_backups_changed), manager);
  g_signal_emit (manager, signals[TARGET_ADDED], 0, target);
}

void
remove_target (SfTargetManager *manager, SfTarget *target)
{
  g_signal_handlers_disconnect_by_func (target, (gpointer)on_target_backups_changed, manager);
  GList *link = g_list_find (manager->targets, target);
  if (link != NULL)
    {
      manager->targets = g_list_delete_link (manager->targets, link);
      g_signal_emit (manager, signals[TARGET_REMOVED], 0, target);
      g_object_unref (target);
    }
  manager->targets = g_list_sort (manager->targets, compare_targets);
}

/* FALSE when the mount is not followed, already has a target or cannot be queried. */
gboolean
add_mount (SfTargetManager *manager, GMount *mount)
{
  g_autofree gchar *uri = followed_mount_uri (mount);
  if (uri == NULL || find_target (manager, uri) != NULL)
    return FALSE;
  SfTarget *target = sf_target_mount_new (mount);
  if (target == NULL)
    return FALSE;
  add_target (manager, target);
  return TRUE;
}

void
on_mount_added (GVolumeMonitor *, GMount *mount, gpointer user_data)
{
  g_autofree gchar *uri = followed_mount_uri (mount);
  if (uri == NULL)
    return;
  SF_LOG_DEBUG ("SfTargetManager: mounted %s\n", uri);
  add_mount (SF_TARGET_MANAGER (user_data), mount);
}

void
on_mount_pre_unmount (GVolumeMonitor *, GMount *mount, gpointer user_data)
{
  g_autofree gchar *uri = followed_mount_uri (mount);
  if (uri == NULL)
    return;
  SF_LOG_DEBUG ("SfTargetManager: pre-unmount %s\n", uri);
  SfTarget *target = find_target (SF_TARGET_MANAGER (user_data), uri);
  if (target != NULL)
    g_signal_emit (user_data, signals[TARGET_WILL_BE_REMOVED], 0, target);
}

void
on_mount_removed (GVolumeMonitor *, GMount *mount, gpointer user_data)
{
  g_autofree gchar *uri = followed_mount_uri (mount);
  if (uri == NULL)
    return;
  SF_LOG_DEBUG ("SfTargetManager: unmounted %s\n", uri);
  SfTargetManager *manager = SF_TARGET_MANAGER (user_data);
  SfTarget *target = find_target (manager, uri);
  if (target == NULL)
    return;
  sf_target_set_is_available (target, FALSE);
  if (!sf_target_get_is_persistent (target))
    remove_target (manager, target);
}

void
add_present_mounts (SfTargetManager *manager)
{
  GList *mounts = g_volume_monitor_get_mounts (manager->volume_monitor);
  gboolean added = FALSE;
  for (GList *link = mounts; link != NULL; link = link->next)
    if (add_mount (manager, G_MOUNT (link->data)))
      added = TRUE;
  g_list_free_full (mounts, g_object_unref);
  if (added)
    return;

  GList *fakes = sf_target_fake_setup ();
  for (GList *link = fakes; link != NULL; link = link->next)
    add_target (manager, SF_TARGET (link->data));
  g_list_free (fakes);
}

gpointer
copy_target (gconstpointer target, gpointer)
{
  return g_object_ref ((gpointer)target);
}

gboolean
finish_list_load (gpointer data)
{
  ListLoad *load = (ListLoad *)data;
  g_list_free_full (load->targets, g_object_unref);
  g_object_unref (load->manager);
  g_free (load);
  return G_SOURCE_REMOVE;
}

gpointer
load_backups (gpointer data)
{
  ListLoad *load = (ListLoad *)data;
  for (GList *link = load->targets; link != NULL; link = link->next)
    sf_target_get_backups (SF_TARGET (link->data));
  SF_LOG_DEBUG ("backup list loading complete, emitting signal");
  /* Cleared first: a receiver that asks for another load at once must not be ignored. */
  g_atomic_int_set (&load->manager->loading, FALSE);
  g_signal_emit (load->manager, signals[BACKUP_LIST_LOAD_COMPLETE], 0, NULL);
  /* Targets are released where they live, on the main loop. */
  g_idle_add (finish_list_load, load);
  return NULL;
}
} // namespace

static void
sf_target_manager_dispose (GObject *object)
{
  SfTargetManager *manager = SF_TARGET_MANAGER (object);
  if (manager->volume_monitor != NULL)
    g_signal_handlers_disconnect_by_data (manager->volume_monitor, manager);
  while (manager->targets != NULL)
    remove_target (manager, SF_TARGET (manager->targets->data));
  g_clear_object (&manager->volume_monitor);
  G_OBJECT_CLASS (sf_target_manager_parent_class)->dispose (object);
}

static void
sf_target_manager_class_init (SfTargetManagerClass *klass)
{
  GObjectClass *object_class = G_OBJECT_CLASS (klass);
  object_class->dispose = sf_target_manager_dispose;

  GType type = G_TYPE_FROM_CLASS (klass);
  signals[TARGET_ADDED] = g_signal_new ("target-added", type, G_SIGNAL_RUN_LAST, 0, NULL, NULL,
                                        NULL, G_TYPE_NONE, 1, SF_TYPE_TARGET);
  signals[TARGET_REMOVED] = g_signal_new ("target-removed", type, G_SIGNAL_RUN_LAST, 0, NULL, NULL,
                                          NULL, G_TYPE_NONE, 1, SF_TYPE_TARGET);
  signals[TARGET_WILL_BE_REMOVED]
      = g_signal_new ("target-will_be_removed", type, G_SIGNAL_RUN_LAST, 0, NULL, NULL, NULL,
                      G_TYPE_NONE, 1, SF_TYPE_TARGET);
  signals[TARGET_BACKUPS_CHANGED]
      = g_signal_new ("target-backups-changed", type, G_SIGNAL_RUN_LAST, 0, NULL, NULL, NULL,
                      G_TYPE_NONE, 1, SF_TYPE_TARGET);
  signals[BACKUP_LIST_LOAD_COMPLETE]
      = g_signal_new ("backup-list-load-complete", type, G_SIGNAL_RUN_LAST, 0, NULL, NULL, NULL,
                      G_TYPE_NONE, 1, SF_TYPE_TARGET);
}

static void
sf_target_manager_init (SfTargetManager *manager)
{
  manager->loading = FALSE;
  manager->volume_monitor = g_volume_monitor_get ();
  add_present_mounts (manager);
  g_signal_connect (manager->volume_monitor, "mount-added", G_CALLBACK (on_mount_added), manager);
  g_signal_connect (manager->volume_monitor, "mount-removed", G_CALLBACK (on_mount_removed),
                    manager);
  g_signal_connect (manager->volume_monitor, "mount-pre-unmount", G_CALLBACK (on_mount_pre_unmount),
                    manager);
}

SfTargetManager *
sf_target_manager_get (void)
{
  if (the_manager == NULL)
    the_manager = SF_TARGET_MANAGER (g_object_new (SF_TYPE_TARGET_MANAGER, NULL));
  return the_manager;
}

void
sf_target_manager_release (void)
{
  g_clear_object (&the_manager);
}

GList *
sf_target_manager_get_targets (SfTargetManager *manager)
{
  g_return_val_if_fail (SF_IS_TARGET_MANAGER (manager), NULL);
  return manager->targets;
}

GList *
sf_target_manager_get_backups (SfTargetManager *manager)
{
  g_return_val_if_fail (SF_IS_TARGET_MANAGER (manager), NULL);
  GList *backups = NULL;
  for (GList *link = manager->targets; link != NULL; link = link->next)
    backups = g_list_concat (backups, g_list_copy (sf_target_get_backups (SF_TARGET (link->data))));
  return backups;
}

void
sf_target_manager_load_backups_async (SfTargetManager *manager)
{
  g_return_if_fail (SF_IS_TARGET_MANAGER (manager));
  if (!g_atomic_int_compare_and_exchange (&manager->loading, FALSE, TRUE))
    {
      SF_LOG_DEBUG ("list load is already in progress, ignored");
      return;
    }

  SF_LOG_DEBUG ("starting to load the list");
  ListLoad *load = g_new0 (ListLoad, 1);
  load->manager = SF_TARGET_MANAGER (g_object_ref (manager));
  load->targets = g_list_copy_deep (manager->targets, copy_target, NULL);
  g_autoptr (GError) error = NULL;
  GThread *thread = g_thread_try_new ("sf-backup-list", load_backups, load, &error);
  if (thread == NULL)
    {
      SF_LOG_ERROR ("Could not start loading the backup list: %s", error->message);
      g_atomic_int_set (&manager->loading, FALSE);
      finish_list_load (load);
      return;
    }
  g_thread_unref (thread);
}

SfTarget *
sf_target_manager_get_target_from_backup (SfTargetManager *manager, SfBackupInfo *info)
{
  g_return_val_if_fail (SF_IS_TARGET_MANAGER (manager), NULL);
  g_return_val_if_fail (info != NULL, NULL);
  for (GList *link = manager->targets; link != NULL; link = link->next)
    {
      SfTarget *target = SF_TARGET (link->data);
      SfBackupInfo *found = sf_target_get_backup_by_name (target, sf_backup_info_get_name (info));
      if (found == NULL)
        continue;
      gboolean same = g_file_equal (sf_backup_info_get_uri (found), sf_backup_info_get_uri (info));
      sf_backup_info_unref (found);
      if (same)
        return target;
    }
  return NULL;
}
