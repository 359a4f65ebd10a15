#include "sf-backup-locations.h"

#include "sf-category.h"
#include "sf-log.h"
#include "sf-parallel.h"
#include "sf-vfs-utils.h"

#include <cstring>
#include <utility>
#include <vector>

namespace
{
void
location_free (SfBackupLocation *location)
{
  g_free (location->appl_name);
  g_free (location->path);
  g_free (location);
}

gboolean
is_selected (const SfBackupLocation *location, guint32 categories, gboolean exclusions)
{
  return !location->redundant && location->is_exclusion == exclusions
         && (location->categories & categories) != 0;
}

/* What stands for the location in lists: an include as a C-escaped path; an exclusion as a glob
 * pattern, which for a directory covers everything below it. */
gchar *
location_to_uri (const SfBackupLocation *location)
{
  if (!location->is_exclusion)
    return g_strescape (location->path, NULL);
  if (!location->is_dir || g_str_has_suffix (location->path, "/*"))
    return g_strdup (location->path);
  if (g_str_has_suffix (location->path, "/"))
    return g_strconcat (location->path, "*", NULL);
  return g_strconcat (location->path, "/*", NULL);
}

/* Only an ancestor of the same kind that serves every category of the location makes it
 * redundant: a backup of the location's categories alone must still reach it. */
gboolean
has_covering_ancestor (SfBackupLocations *locations, const SfBackupLocation *location)
{
  g_autofree gchar *parent = g_path_get_dirname (location->path);
  while (strcmp (parent, "/") != 0 && strcmp (parent, ".") != 0)
    {
      SfBackupLocation *ancestor = (SfBackupLocation *)g_hash_table_lookup (locations, parent);
      if (ancestor != NULL && ancestor->is_exclusion == location->is_exclusion
          && (location->categories & ~ancestor->categories) == 0)
        return TRUE;
      gchar *grandparent = g_path_get_dirname (parent);
      g_free (parent);
      parent = grandparent;
    }
  return FALSE;
}

/* The plain paths of the selected entries. */
GSList *
selected_paths (SfBackupLocations *locations, guint32 categories, gboolean exclusions)
{
  GSList *paths = NULL;
  GHashTableIter iter;
  gpointer value;
  g_hash_table_iter_init (&iter, locations);
  while (g_hash_table_iter_next (&iter, NULL, &value))
    {
      const SfBackupLocation *location = (const SfBackupLocation *)value;
      if (is_selected (location, categories, exclusions))
        paths = g_slist_prepend (paths, exclusions ? location_to_uri (location)
                                                   : g_strdup (location->path));
    }
  return paths;
}

gboolean
is_below_any (const gchar *path, GSList *directories)
{
  for (GSList *item = directories; item != NULL; item = item->next)
    {
      const gchar *directory = (const gchar *)item->data;
      gsize length = strlen (directory);
      if (strncmp (path, directory, length) == 0 && path[length] == '/')
        return TRUE;
    }
  return FALSE;
}

/* Each file once, as one category's archive holds it: an include below another include of the
 * category adds nothing of its own. */
GSList *
counted_includes (SfBackupLocations *locations, SfCategory category)
{
  GSList *includes = selected_paths (locations, category, FALSE);
  GSList *counted = NULL;
  for (GSList *item = includes; item != NULL; item = item->next)
    if (!is_below_any ((const gchar *)item->data, includes))
      counted = g_slist_prepend (counted, g_strdup ((const gchar *)item->data));
  g_slist_free_full (includes, g_free);
  return counted;
}

/* Only excluded files that an include path would have counted are taken off again. */
GSList *
counted_exclusions (SfBackupLocations *locations, SfCategory category, GSList *includes)
{
  GSList *exclusions = selected_paths (locations, category, TRUE);
  GSList *counted = NULL;
  for (GSList *item = exclusions; item != NULL; item = item->next)
    if (is_below_any ((const gchar *)item->data, includes))
      counted = g_slist_prepend (counted, g_strdup ((const gchar *)item->data));
  g_slist_free_full (exclusions, g_free);
  return counted;
}

/* Takes off what the category's exclusions name of the files counted below its includes. */
void
take_off_exclusions (SfBackupLocations *locations, SfCategory category, GSList *includes,
                     guint32 *num_files, guint64 *size)
{
  GSList *exclusions = counted_exclusions (locations, category, includes);
  guint32 excluded_files = 0;
  guint64 excluded_size = 0;
  sf_vfs_utils_count_files (exclusions, &excluded_files, &excluded_size);
  *num_files -= MIN (excluded_files, *num_files);
  *size -= MIN (excluded_size, *size);
  g_slist_free_full (exclusions, g_free);
}

void
count_category (SfBackupLocations *locations, SfCategory category, guint32 *num_files,
                guint64 *size)
{
  GSList *includes = counted_includes (locations, category);
  sf_vfs_utils_count_files (includes, num_files, size);
  take_off_exclusions (locations, category, includes, num_files, size);
  g_slist_free_full (includes, g_free);
}
} // namespace

SfBackupLocations *
sf_backup_locations_new (void)
{
  return g_hash_table_new_full (g_str_hash, g_str_equal, g_free, (GDestroyNotify)location_free);
}

void
sf_backup_locations_free (SfBackupLocations *locations)
{
  if (locations != NULL)
    g_hash_table_unref (locations);
}

gboolean
_sf_backup_locations_add_location (SfBackupLocations *locations, const gchar *appl_name,
                                   const gchar *path, guint32 categories, gboolean is_dir,
                                   gboolean is_exclusion)
{
  g_return_val_if_fail (locations != NULL, FALSE);
  g_return_val_if_fail (appl_name != NULL, FALSE);
  g_return_val_if_fail (path != NULL, FALSE);

  if (path[0] != '/')
    {
      SF_LOG_WARNING ("Path is not absolute: %s.", path);
      return FALSE;
    }
  if (g_hash_table_contains (locations, path))
    {
      SF_LOG_WARNING ("Got duplicate path in configuration:\n%s.", path);
      return TRUE;
    }

  SF_LOG_DEBUG ("Adding entry %s for app %s", path, appl_name);
  SfBackupLocation *location = g_new (SfBackupLocation, 1);
  location->appl_name = g_strdup (appl_name);
  location->path = g_strdup (path);
  location->categories = categories;
  location->is_dir = is_dir;
  location->is_exclusion = is_exclusion;
  location->redundant = FALSE;
  g_hash_table_insert (locations, g_strdup (path), location);
  return TRUE;
}

void
_sf_backup_locations_remove_redundancies (SfBackupLocations *locations)
{
  g_return_if_fail (locations != NULL);

  GHashTableIter iter;
  gpointer value;
  g_hash_table_iter_init (&iter, locations);
  while (g_hash_table_iter_next (&iter, NULL, &value))
    {
      SfBackupLocation *location = (SfBackupLocation *)value;
      location->redundant = has_covering_ancestor (locations, location);
    }
}

GSList *
sf_backup_locations_get_uris (SfBackupLocations *locations, guint32 categories, gboolean exclusions)
{
  g_return_val_if_fail (locations != NULL, NULL);

  GSList *uris = NULL;
  GHashTableIter iter;
  gpointer value;
  g_hash_table_iter_init (&iter, locations);
  while (g_hash_table_iter_next (&iter, NULL, &value))
    if (is_selected ((SfBackupLocation *)value, categories, exclusions))
      uris = g_slist_prepend (uris, location_to_uri ((SfBackupLocation *)value));
  return g_slist_sort (uris, (GCompareFunc)strcmp);
}

GSList *
sf_backup_locations_get_uri_infos (SfBackupLocations *locations, guint32 categories,
                                   gboolean exclusions)
{
  g_return_val_if_fail (locations != NULL, NULL);

  GSList *infos = NULL;
  GHashTableIter iter;
  gpointer value;
  g_hash_table_iter_init (&iter, locations);
  while (g_hash_table_iter_next (&iter, NULL, &value))
    {
      const SfBackupLocation *location = (const SfBackupLocation *)value;
      if (!is_selected (location, categories, exclusions))
        continue;
      SfBackupUriInfo *info = g_new (SfBackupUriInfo, 1);
      info->uri = location_to_uri (location);
      info->categories = location->categories;
      infos = g_slist_prepend (infos, info);
    }
  return infos;
}

void
sf_backup_uri_info_free (SfBackupUriInfo *info)
{
  if (info == NULL)
    return;
  g_free (info->uri);
  g_free (info);
}

void
sf_backup_locations_count_data (SfBackupLocations *locations, guint32 categories,
                                guint32 *num_files, guint64 *size)
{
  g_return_if_fail (locations != NULL);
  g_return_if_fail (num_files != NULL);
  g_return_if_fail (size != NULL);

  /* Every category has an archive of its own, so a file of two categories is packed twice. The
   * GConf directory counts like any other folder: through the locations that pack it. The
   * categories are counted on all processors at once: a backup waits for its count. */
  std::vector<SfCategory> selected;
  for (gint index = 0; index < SF_CATEGORY_COUNT; index++)
    if (categories & sf_category_from_index (index))
      selected.push_back (sf_category_from_index (index));
  std::vector<std::pair<guint32, guint64>> counts (selected.size ());
  sf_parallel_run_each (sf_parallel_thread_count (selected.size ()), selected.size (),
                        [locations, &selected, &counts] (gsize index) {
                          count_category (locations, selected[index], &counts[index].first,
                                          &counts[index].second);
                        });
  *num_files = 0;
  *size = 0;
  for (const auto &[category_files, category_size] : counts)
    {
      *num_files += category_files;
      *size += category_size;
    }
}

void
sf_backup_locations_count_walked (SfBackupLocations *locations, SfCategory category,
                                  guint32 walked_files, guint64 walked_size, guint32 *num_files,
                                  guint64 *size)
{
  g_return_if_fail (locations != NULL);
  g_return_if_fail (num_files != NULL);
  g_return_if_fail (size != NULL);

  *num_files = walked_files;
  *size = walked_size;
  GSList *includes = counted_includes (locations, category);
  take_off_exclusions (locations, category, includes, num_files, size);
  g_slist_free_full (includes, g_free);
}
