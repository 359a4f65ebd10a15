#include "sf-target.h"

#include "sf-error.h"
#include "sf-log.h"
#include "sf-tree-removal.h"

#define METADATA_NAME "backup.metadata"
#define LEFTOVER_PREFIX ".gsf"
#define LISTING_ATTRIBUTES G_FILE_ATTRIBUTE_STANDARD_NAME "," G_FILE_ATTRIBUTE_STANDARD_TYPE

enum
{
  PROP_0,
  PROP_DISPLAY_NAME,
  PROP_URI,
  PROP_BACKUPS_LOCATION,
  PROP_IS_AVAILABLE,
  PROP_IS_READ_ONLY,
  PROP_IS_PERSISTENT,
  N_PROPERTIES
};

enum
{
  BACKUPS_CHANGED,
  N_SIGNALS
};

typedef struct
{
  gchar *display_name;
  gchar *uri;
  gchar *backups_uri;
  GFileMonitor *backups_location_monitor;
  GHashTable *backup_monitors;
  GList *backups;
  gboolean backups_cached;
  /* The list loading thread fills the cache while the main loop may drop it: the lock covers
   * the cache and the backups location, and the generation tells a fill that a drop happened
   * while it was reading. */
  GMutex backups_lock;
  guint backups_generation;
  gboolean is_available;
  gboolean is_read_only;
  gboolean is_persistent;
} SfTargetPrivate;

G_DEFINE_TYPE_WITH_PRIVATE (SfTarget, sf_target, G_TYPE_OBJECT)

namespace
{
GParamSpec *properties[N_PROPERTIES];
guint signals[N_SIGNALS];

/* Monitor table keys and event comparisons use directory URIs ending in "/". */
gchar *
directory_key (GFile *file)
{
  g_autofree gchar *uri = g_file_get_uri (file);
  return g_str_has_suffix (uri, "/") ? g_steal_pointer (&uri) : g_strconcat (uri, "/", NULL);
}

gchar *
backups_location_key (SfTarget *target)
{
  g_autoptr (GFile) location = g_file_new_for_uri (sf_target_get_backups_uri (target));
  return directory_key (location);
}

GFileEnumerator *
list_directory (GFile *directory)
{
  return g_file_enumerate_children (directory, LISTING_ATTRIBUTES,
                                    G_FILE_QUERY_INFO_NOFOLLOW_SYMLINKS, NULL, NULL);
}

void
cancel_monitor (gpointer monitor)
{
  g_file_monitor_cancel (G_FILE_MONITOR (monitor));
  g_object_unref (monitor);
}

void
drop_backups (SfTarget *target)
{
  SfTargetPrivate *priv = (SfTargetPrivate *)sf_target_get_instance_private (target);
  g_mutex_lock (&priv->backups_lock);
  GList *old = g_steal_pointer (&priv->backups);
  priv->backups_cached = FALSE;
  priv->backups_generation++;
  g_mutex_unlock (&priv->backups_lock);
  sf_backup_info_list_free (old);
}

void
backups_changed (SfTarget *target)
{
  drop_backups (target);
  g_signal_emit (target, signals[BACKUPS_CHANGED], 0);
}

void
on_backup_changed (GFileMonitor *, GFile *file, GFile *, GFileMonitorEvent event,
                   gpointer user_data)
{
  /* A metadata file replaced through a temporary file shows up as created. */
  if (event != G_FILE_MONITOR_EVENT_CHANGED && event != G_FILE_MONITOR_EVENT_DELETED
      && event != G_FILE_MONITOR_EVENT_CREATED)
    return;
  g_autofree gchar *name = g_file_get_basename (file);
  g_autoptr (GFile) parent = g_file_get_parent (file);
  if (g_strcmp0 (name, METADATA_NAME) != 0 || parent == NULL)
    return;

  SfTarget *target = SF_TARGET (user_data);
  SfTargetPrivate *priv = (SfTargetPrivate *)sf_target_get_instance_private (target);
  g_autofree gchar *key = directory_key (parent);
  if (g_hash_table_contains (priv->backup_monitors, key))
    backups_changed (target);
}

/* Follows one backup directory; takes the key. FALSE when no monitor could be started. */
gboolean
watch_backup (SfTarget *target, GFile *directory, gchar *key)
{
  SfTargetPrivate *priv = (SfTargetPrivate *)sf_target_get_instance_private (target);
  g_autoptr (GError) error = NULL;
  GFileMonitor *monitor = g_file_monitor_directory (directory, G_FILE_MONITOR_NONE, NULL, &error);
  if (monitor == NULL)
    {
      SF_LOG_ERROR ("Could not add monitor for backup with uri:'%s', %s", key, error->message);
      g_free (key);
      return FALSE;
    }
  g_signal_connect_object (monitor, "changed", G_CALLBACK (on_backup_changed), target,
                           G_CONNECT_DEFAULT);
  g_hash_table_insert (priv->backup_monitors, key, monitor);
  return TRUE;
}

/* FALSE when the directory cannot be listed. */
gboolean
list_backup_directory (GFile *directory, gboolean *has_metadata)
{
  g_autoptr (GFileEnumerator) entries = list_directory (directory);
  if (entries == NULL)
    return FALSE;
  GFileInfo *info;
  while (g_file_enumerator_iterate (entries, &info, NULL, NULL, NULL) && info != NULL)
    if (g_file_info_get_file_type (info) != G_FILE_TYPE_DIRECTORY
        && g_strcmp0 (g_file_info_get_name (info), METADATA_NAME) == 0)
      *has_metadata = TRUE;
  return TRUE;
}

/* Only directories without a monitor are looked at, so a rescan reacts to new ones alone. */
void
scan_backups_location (SfTarget *target)
{
  SfTargetPrivate *priv = (SfTargetPrivate *)sf_target_get_instance_private (target);
  g_autoptr (GFile) location = g_file_new_for_uri (priv->backups_uri);
  g_autoptr (GFileEnumerator) children = list_directory (location);
  if (children == NULL)
    return;

  gboolean listed_new = FALSE;
  gboolean found_backup = FALSE;
  GFileInfo *info;
  GFile *child;
  while (g_file_enumerator_iterate (children, &info, &child, NULL, NULL) && info != NULL)
    {
      if (g_file_info_get_file_type (info) != G_FILE_TYPE_DIRECTORY)
        continue;
      g_autofree gchar *key = directory_key (child);
      if (g_hash_table_contains (priv->backup_monitors, key))
        continue;
      watch_backup (target, child, g_steal_pointer (&key));
      if (list_backup_directory (child, &found_backup))
        listed_new = TRUE;
    }

  if (listed_new)
    drop_backups (target);
  if (found_backup)
    g_signal_emit (target, signals[BACKUPS_CHANGED], 0);
}

void
on_backups_location_changed (GFileMonitor *, GFile *file, GFile *, GFileMonitorEvent event,
                             gpointer user_data)
{
  if (event != G_FILE_MONITOR_EVENT_DELETED && event != G_FILE_MONITOR_EVENT_CREATED)
    return;

  SfTarget *target = SF_TARGET (user_data);
  SfTargetPrivate *priv = (SfTargetPrivate *)sf_target_get_instance_private (target);
  g_autofree gchar *key = directory_key (file);
  g_autofree gchar *location_key = backups_location_key (target);
  gboolean is_location = g_str_equal (key, location_key);

  if (event == G_FILE_MONITOR_EVENT_DELETED)
    {
      if (is_location)
        {
          SF_LOG_DEBUG ("Backups location '%s' deleted.", key);
          return;
        }
      /* A backup removed through sf_target_remove_backup was reported there already. */
      if (g_hash_table_remove (priv->backup_monitors, key))
        backups_changed (target);
      return;
    }

  if (is_location)
    scan_backups_location (target);
  else if (!g_hash_table_contains (priv->backup_monitors, key)
           && watch_backup (target, file, g_steal_pointer (&key)))
    backups_changed (target);
}

void
watch_backups_location (SfTarget *target)
{
  SfTargetPrivate *priv = (SfTargetPrivate *)sf_target_get_instance_private (target);
  g_clear_pointer (&priv->backups_location_monitor, cancel_monitor);

  g_autoptr (GFile) location = g_file_new_for_uri (priv->backups_uri);
  priv->backups_location_monitor
      = g_file_monitor_directory (location, G_FILE_MONITOR_NONE, NULL, NULL);
  if (priv->backups_location_monitor == NULL)
    {
      SF_LOG_ERROR ("Could not add monitor for backups location with uri:'%s'.", priv->backups_uri);
      return;
    }
  g_signal_connect_object (priv->backups_location_monitor, "changed",
                           G_CALLBACK (on_backups_location_changed), target, G_CONNECT_DEFAULT);
}

/* The default backups location; made here because a new card has none. */
gchar *
make_default_location (const gchar *root_uri)
{
  g_autoptr (GFile) root = g_file_new_for_uri (root_uri);
  g_autoptr (GFile) location = g_file_get_child (root, SF_TARGET_BACKUPS_LOCATION_NAME);
  g_file_make_directory_with_parents (location, NULL, NULL);
  return g_file_get_uri (location);
}

void
target_set_uri (SfTarget *target, const gchar *uri)
{
  g_return_if_fail (uri != NULL && uri[0] != '\0');
  SfTargetPrivate *priv = (SfTargetPrivate *)sf_target_get_instance_private (target);
  g_free (priv->uri);
  priv->uri = g_strdup (uri);
  g_object_notify_by_pspec (G_OBJECT (target), properties[PROP_URI]);
}

void
target_set_is_persistent (SfTarget *target, gboolean is_persistent)
{
  SfTargetPrivate *priv = (SfTargetPrivate *)sf_target_get_instance_private (target);
  if (priv->is_persistent == is_persistent)
    return;
  priv->is_persistent = is_persistent;
  g_object_notify_by_pspec (G_OBJECT (target), properties[PROP_IS_PERSISTENT]);
}

/* A backup name joined to the backups location must stay inside it. */
gboolean
is_plain_name (const gchar *name)
{
  return name != NULL && name[0] != '\0' && strchr (name, G_DIR_SEPARATOR) == NULL
         && g_strcmp0 (name, ".") != 0 && g_strcmp0 (name, "..") != 0;
}

/* Temporary files of an interrupted archive writer. */
void
remove_leftovers (GFile *location)
{
  g_autoptr (GFileEnumerator) children = list_directory (location);
  if (children == NULL)
    return;
  GFileInfo *info;
  GFile *child;
  while (g_file_enumerator_iterate (children, &info, &child, NULL, NULL) && info != NULL)
    {
      if (g_file_info_get_file_type (info) != G_FILE_TYPE_DIRECTORY)
        continue;
      g_autoptr (GFileEnumerator) entries = list_directory (child);
      GFileInfo *entry_info;
      GFile *entry;
      while (entries != NULL && g_file_enumerator_iterate (entries, &entry_info, &entry, NULL, NULL)
             && entry_info != NULL)
        if (g_str_has_prefix (g_file_info_get_name (entry_info), LEFTOVER_PREFIX))
          g_file_delete (entry, NULL, NULL);
    }
}

void
set_prepare_error (const GError *cause, GError **error)
{
  const gchar *no_space = "No space on memory card";
  if (g_error_matches (cause, G_IO_ERROR, G_IO_ERROR_READ_ONLY)
      || g_error_matches (cause, G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED))
    {
      SF_LOG_ERROR ("Memory card read-only");
      g_set_error_literal (error, SF_ERROR, SF_ERROR_BACKUP_READ_ONLY, "Memory card read-only");
    }
  else if (g_error_matches (cause, G_IO_ERROR, G_IO_ERROR_NO_SPACE))
    g_set_error_literal (error, SF_ERROR, SF_ERROR_BACKUP_NO_SPACE, no_space);
  else if (g_error_matches (cause, G_IO_ERROR, G_IO_ERROR_IS_DIRECTORY))
    {
      SF_LOG_DEBUG ("G_FILE_ERROR_ISDIR error, report as %s", no_space);
      g_set_error_literal (error, SF_ERROR, SF_ERROR_BACKUP_NO_SPACE, no_space);
    }
  else
    {
      SF_LOG_ERROR ("Could not create the backups location: %s", cause->message);
      g_set_error_literal (error, SF_ERROR, SF_ERROR_BACKUP_FAILED, "Failed to access backup dir");
    }
}
} // namespace

static void
sf_target_get_property (GObject *object, guint property_id, GValue *value, GParamSpec *pspec)
{
  SfTarget *target = SF_TARGET (object);
  SfTargetPrivate *priv = (SfTargetPrivate *)sf_target_get_instance_private (target);
  switch (property_id)
    {
    case PROP_DISPLAY_NAME:
      g_value_set_string (value, priv->display_name);
      break;
    case PROP_URI:
      g_value_set_string (value, priv->uri);
      break;
    case PROP_BACKUPS_LOCATION:
      g_value_take_string (value, sf_target_dup_backups_uri (target));
      break;
    case PROP_IS_AVAILABLE:
      g_value_set_boolean (value, priv->is_available);
      break;
    case PROP_IS_READ_ONLY:
      g_value_set_boolean (value, priv->is_read_only);
      break;
    case PROP_IS_PERSISTENT:
      g_value_set_boolean (value, priv->is_persistent);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID (object, property_id, pspec);
    }
}

static void
sf_target_set_property (GObject *object, guint property_id, const GValue *value, GParamSpec *pspec)
{
  SfTarget *target = SF_TARGET (object);
  switch (property_id)
    {
    case PROP_DISPLAY_NAME:
      sf_target_set_display_name (target, g_value_get_string (value));
      break;
    case PROP_URI:
      target_set_uri (target, g_value_get_string (value));
      break;
    case PROP_BACKUPS_LOCATION:
      sf_target_set_backups_uri (target, g_value_get_string (value));
      break;
    case PROP_IS_AVAILABLE:
      sf_target_set_is_available (target, g_value_get_boolean (value));
      break;
    case PROP_IS_READ_ONLY:
      sf_target_set_is_read_only (target, g_value_get_boolean (value));
      break;
    case PROP_IS_PERSISTENT:
      target_set_is_persistent (target, g_value_get_boolean (value));
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID (object, property_id, pspec);
    }
}

static void
sf_target_finalize (GObject *object)
{
  SfTargetPrivate *priv = (SfTargetPrivate *)sf_target_get_instance_private (SF_TARGET (object));
  g_hash_table_destroy (priv->backup_monitors);
  g_clear_pointer (&priv->backups_location_monitor, cancel_monitor);
  sf_backup_info_list_free (priv->backups);
  g_mutex_clear (&priv->backups_lock);
  g_free (priv->display_name);
  g_free (priv->uri);
  g_free (priv->backups_uri);
  G_OBJECT_CLASS (sf_target_parent_class)->finalize (object);
}

static void
sf_target_class_init (SfTargetClass *klass)
{
  GObjectClass *object_class = G_OBJECT_CLASS (klass);
  object_class->get_property = sf_target_get_property;
  object_class->set_property = sf_target_set_property;
  object_class->finalize = sf_target_finalize;

  const GParamFlags flags = (GParamFlags)(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
  const GParamFlags construct = (GParamFlags)(flags | G_PARAM_CONSTRUCT);
  const GParamFlags construct_only = (GParamFlags)(flags | G_PARAM_CONSTRUCT_ONLY);
  properties[PROP_DISPLAY_NAME] = g_param_spec_string (
      "display-name", "Display Name", "Friendly name to represent the target", NULL, flags);
  properties[PROP_URI]
      = g_param_spec_string ("uri", "URI", "The URI of this target", NULL, construct_only);
  properties[PROP_BACKUPS_LOCATION] = g_param_spec_string (
      "backups-location", "Backups Location",
      "The directory used to keep all backups stored in (default = ./Backups)", NULL, construct);
  properties[PROP_IS_AVAILABLE] = g_param_spec_boolean (
      "is-available", "Is available", "If the target available to backup to and restore from?",
      FALSE, construct);
  properties[PROP_IS_READ_ONLY] = g_param_spec_boolean (
      "is-read-only", "Is Read Only", "Is the target read only and can only be restored from?",
      FALSE, construct);
  properties[PROP_IS_PERSISTENT] = g_param_spec_boolean (
      "is-persistent", "Is Persistent", "Is the target kept by the manager even when unmounted?",
      FALSE, construct_only);
  g_object_class_install_properties (object_class, N_PROPERTIES, properties);

  signals[BACKUPS_CHANGED] = g_signal_new ("backups-changed", G_TYPE_FROM_CLASS (klass),
                                           G_SIGNAL_RUN_LAST, 0, NULL, NULL, NULL, G_TYPE_NONE, 0);
}

static void
sf_target_init (SfTarget *target)
{
  SfTargetPrivate *priv = (SfTargetPrivate *)sf_target_get_instance_private (target);
  priv->backup_monitors = g_hash_table_new_full (g_str_hash, g_str_equal, g_free, cancel_monitor);
  g_mutex_init (&priv->backups_lock);
}

SfTarget *
sf_target_new (const gchar *uri_str)
{
  g_return_val_if_fail (uri_str != NULL && uri_str[0] != '\0', NULL);
  return SF_TARGET (g_object_new (SF_TYPE_TARGET, "uri", uri_str, NULL));
}

const gchar *
sf_target_get_uri (SfTarget *target)
{
  g_return_val_if_fail (SF_IS_TARGET (target), NULL);
  SfTargetPrivate *priv = (SfTargetPrivate *)sf_target_get_instance_private (target);
  return priv->uri;
}

const gchar *
sf_target_get_display_name (SfTarget *target)
{
  g_return_val_if_fail (SF_IS_TARGET (target), NULL);
  SfTargetPrivate *priv = (SfTargetPrivate *)sf_target_get_instance_private (target);
  return priv->display_name;
}

const gchar *
sf_target_get_backups_uri (SfTarget *target)
{
  g_return_val_if_fail (SF_IS_TARGET (target), NULL);
  SfTargetPrivate *priv = (SfTargetPrivate *)sf_target_get_instance_private (target);
  return priv->backups_uri;
}

gchar *
sf_target_dup_backups_uri (SfTarget *target)
{
  g_return_val_if_fail (SF_IS_TARGET (target), NULL);
  SfTargetPrivate *priv = (SfTargetPrivate *)sf_target_get_instance_private (target);
  g_mutex_lock (&priv->backups_lock);
  gchar *uri = g_strdup (priv->backups_uri);
  g_mutex_unlock (&priv->backups_lock);
  return uri;
}

gboolean
sf_target_get_is_available (SfTarget *target)
{
  g_return_val_if_fail (SF_IS_TARGET (target), FALSE);
  SfTargetPrivate *priv = (SfTargetPrivate *)sf_target_get_instance_private (target);
  return priv->is_available;
}

gboolean
sf_target_get_is_read_only (SfTarget *target)
{
  g_return_val_if_fail (SF_IS_TARGET (target), FALSE);
  SfTargetPrivate *priv = (SfTargetPrivate *)sf_target_get_instance_private (target);
  return priv->is_read_only;
}

gboolean
sf_target_get_is_persistent (SfTarget *target)
{
  g_return_val_if_fail (SF_IS_TARGET (target), FALSE);
  SfTargetPrivate *priv = (SfTargetPrivate *)sf_target_get_instance_private (target);
  return priv->is_persistent;
}

void
sf_target_set_display_name (SfTarget *target, const gchar *display_name)
{
  g_return_if_fail (SF_IS_TARGET (target));
  g_return_if_fail (display_name != NULL && display_name[0] != '\0');
  SfTargetPrivate *priv = (SfTargetPrivate *)sf_target_get_instance_private (target);
  if (priv->display_name == display_name)
    return;
  g_free (priv->display_name);
  priv->display_name = g_strdup (display_name);
  g_object_notify_by_pspec (G_OBJECT (target), properties[PROP_DISPLAY_NAME]);
}

void
sf_target_set_is_available (SfTarget *target, gboolean is_available)
{
  g_return_if_fail (SF_IS_TARGET (target));
  SfTargetPrivate *priv = (SfTargetPrivate *)sf_target_get_instance_private (target);
  if (priv->is_available == is_available)
    return;
  priv->is_available = is_available;
  g_object_notify_by_pspec (G_OBJECT (target), properties[PROP_IS_AVAILABLE]);
}

void
sf_target_set_is_read_only (SfTarget *target, gboolean is_read_only)
{
  g_return_if_fail (SF_IS_TARGET (target));
  SfTargetPrivate *priv = (SfTargetPrivate *)sf_target_get_instance_private (target);
  if (priv->is_read_only == is_read_only)
    return;
  priv->is_read_only = is_read_only;
  g_object_notify_by_pspec (G_OBJECT (target), properties[PROP_IS_READ_ONLY]);
}

void
sf_target_set_backups_uri (SfTarget *target, const gchar *uri)
{
  g_return_if_fail (SF_IS_TARGET (target));
  SfTargetPrivate *priv = (SfTargetPrivate *)sf_target_get_instance_private (target);
  g_return_if_fail (priv->uri != NULL);
  if (uri != NULL && !g_str_has_prefix (uri, priv->uri))
    {
      SF_LOG_WARNING ("Backups location must be below the root uri");
      return;
    }

  gchar *backups_uri = uri != NULL ? g_strdup (uri) : make_default_location (priv->uri);
  g_mutex_lock (&priv->backups_lock);
  g_free (priv->backups_uri);
  priv->backups_uri = backups_uri;
  g_mutex_unlock (&priv->backups_lock);
  g_object_notify_by_pspec (G_OBJECT (target), properties[PROP_BACKUPS_LOCATION]);

  /* What was found in an earlier location says nothing about this one. */
  g_hash_table_remove_all (priv->backup_monitors);
  drop_backups (target);
  watch_backups_location (target);
  scan_backups_location (target);
}

GList *
sf_target_get_backups (SfTarget *target)
{
  g_return_val_if_fail (SF_IS_TARGET (target), NULL);
  SfTargetPrivate *priv = (SfTargetPrivate *)sf_target_get_instance_private (target);
  g_mutex_lock (&priv->backups_lock);
  while (!priv->backups_cached)
    {
      guint generation = priv->backups_generation;
      g_autoptr (GFile) location = g_file_new_for_uri (priv->backups_uri);
      g_mutex_unlock (&priv->backups_lock);
      GList *backups = sf_backup_info_list_get (location);
      g_mutex_lock (&priv->backups_lock);
      if (priv->backups_cached || priv->backups_generation != generation)
        {
          sf_backup_info_list_free (backups);
          continue;
        }
      priv->backups = backups;
      priv->backups_cached = TRUE;
    }
  GList *backups = priv->backups;
  g_mutex_unlock (&priv->backups_lock);
  return backups;
}

SfBackupInfo *
sf_target_get_backup_by_name (SfTarget *target, const gchar *name)
{
  g_return_val_if_fail (SF_IS_TARGET (target), NULL);
  g_return_val_if_fail (name != NULL && name[0] != '\0', NULL);
  g_autoptr (GFile) location = g_file_new_for_uri (sf_target_get_backups_uri (target));
  return sf_backup_info_list_get_by_name (location, name);
}

gboolean
sf_target_prepare_for_backup (SfTarget *target, GError **error)
{
  g_return_val_if_fail (SF_IS_TARGET (target), FALSE);
  g_autoptr (GFile) location = g_file_new_for_uri (sf_target_get_backups_uri (target));
  remove_leftovers (location);
  if (g_file_query_file_type (location, G_FILE_QUERY_INFO_NONE, NULL) == G_FILE_TYPE_DIRECTORY)
    return TRUE;

  g_autoptr (GError) make_error = NULL;
  if (g_file_make_directory (location, NULL, &make_error))
    return TRUE;
  set_prepare_error (make_error, error);
  return FALSE;
}

gboolean
sf_target_remove_backup (SfTarget *target, SfBackupInfo *info)
{
  g_return_val_if_fail (SF_IS_TARGET (target), FALSE);
  g_return_val_if_fail (info != NULL, FALSE);
  g_autofree gchar *name = g_strdup (sf_backup_info_get_name (info));
  if (!is_plain_name (name))
    {
      SF_LOG_ERROR ("Refusing to remove a backup named '%s'.", name);
      return FALSE;
    }

  g_autoptr (GFile) location = g_file_new_for_uri (sf_target_get_backups_uri (target));
  g_autoptr (GFile) directory = g_file_get_child (location, name);
  /* Unwatched first: the removal is reported once, below, not again by the monitors. */
  SfTargetPrivate *priv = (SfTargetPrivate *)sf_target_get_instance_private (target);
  g_autofree gchar *key = directory_key (directory);
  gboolean watched = g_hash_table_remove (priv->backup_monitors, key);
  g_autofree gchar *path = g_file_get_path (directory);
  g_autoptr (GError) error = NULL;
  if (path == NULL || !sf_tree_removal_remove (path, NULL, &error))
    {
      SF_LOG_ERROR ("Could not remove the backup '%s': %s", name,
                    error != NULL ? error->message : "not a local folder");
      /* Part of it may be gone: listeners read again what is left. */
      if (watched)
        watch_backup (target, directory, g_steal_pointer (&key));
      backups_changed (target);
      return FALSE;
    }
  /* Lists handed out earlier hold the removed record: dropping the whole cache with the signal
   * tells every holder that its list is gone, instead of editing a list it may be walking. */
  backups_changed (target);
  g_file_delete (location, NULL, NULL);
  return TRUE;
}

guint64
sf_target_calculate_free_space (SfTarget *target)
{
  g_return_val_if_fail (SF_IS_TARGET (target), 0);
  g_autoptr (GFile) root = g_file_new_for_uri (sf_target_get_uri (target));
  g_autoptr (GError) error = NULL;
  g_autoptr (GFileInfo) info
      = g_file_query_filesystem_info (root, G_FILE_ATTRIBUTE_FILESYSTEM_FREE, NULL, &error);
  if (info == NULL)
    {
      SF_LOG_ERROR ("Could not calculate free space for uri:'%s', error:%d->'%s'",
                    sf_target_get_uri (target), error->code, error->message);
      return 0;
    }
  return g_file_info_get_attribute_uint64 (info, G_FILE_ATTRIBUTE_FILESYSTEM_FREE);
}
