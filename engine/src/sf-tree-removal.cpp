#include "sf-tree-removal.h"

#include "sf-backup-configurations.h"
#include "sf-location-rules.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace
{
/* Each level holds one descriptor open; export areas and backups are far shallower. */
const gint max_depth = 128;

/* One walk: a removal, or with a freed function only the count of what a removal would free. */
class Removal
{
public:
  explicit Removal (GSList *exclusion_patterns, SfTreeRemovalFreedFunc freed = NULL,
                    gpointer freed_data = NULL)
      : freed_ (freed), freed_data_ (freed_data)
  {
    for (GSList *item = exclusion_patterns; item != NULL; item = item->next)
      patterns_.push_back (g_pattern_spec_new ((const gchar *)item->data));
  }

  ~Removal ()
  {
    for (GPatternSpec *pattern : patterns_)
      g_pattern_spec_free (pattern);
    g_clear_error (&error_);
  }

  Removal (const Removal &) = delete;
  Removal &operator= (const Removal &) = delete;

  /* Matched as the file lists match: by the path, or by the parse name when it is no UTF-8. */
  bool excluded (const std::string &path) const
  {
    if (patterns_.empty ())
      return false;
    g_autofree gchar *parse_name = NULL;
    const gchar *name = path.c_str ();
    if (!g_utf8_validate (name, -1, NULL))
      {
        g_autoptr (GFile) file = g_file_new_for_path (name);
        name = parse_name = g_file_get_parse_name (file);
      }
    for (GPatternSpec *pattern : patterns_)
      if (g_pattern_spec_match_string (pattern, name))
        return true;
    return false;
  }

  bool measuring () const
  {
    return freed_ != NULL;
  }

  /* A file linked elsewhere too keeps its blocks when this name goes. */
  void count (const struct stat &info) const
  {
    if (S_ISREG (info.st_mode) && info.st_nlink == 1)
      freed_ (info.st_dev, (guint64)info.st_blocks * 512, freed_data_);
  }

  void fail (const std::string &path, gint error_number)
  {
    if (error_ == NULL)
      g_set_error (&error_, G_IO_ERROR, g_io_error_from_errno (error_number),
                   "Could not remove %s: %s", path.c_str (), g_strerror (error_number));
  }

  void fail_too_deep (const std::string &path)
  {
    if (error_ == NULL)
      g_set_error (&error_, G_IO_ERROR, G_IO_ERROR_FAILED,
                   "Could not remove %s: folders nested deeper than %d levels", path.c_str (),
                   max_depth);
  }

  gboolean result (GError **error)
  {
    if (error_ == NULL)
      return TRUE;
    g_propagate_error (error, g_steal_pointer (&error_));
    return FALSE;
  }

private:
  std::vector<GPatternSpec *> patterns_;
  SfTreeRemovalFreedFunc freed_;
  gpointer freed_data_;
  GError *error_ = NULL;
};

bool remove_entry (Removal &removal, gint parent_fd, const gchar *name, const std::string &path,
                   gint depth);

/* Removes what the folder holds; takes fd. True when nothing is left in it. */
bool
empty_folder (Removal &removal, gint fd, const std::string &path, gint depth)
{
  DIR *folder = fdopendir (fd);
  if (folder == NULL)
    {
      removal.fail (path, errno);
      close (fd);
      return false;
    }
  bool emptied = true;
  while (true)
    {
      errno = 0;
      const struct dirent *child = readdir (folder);
      if (child == NULL)
        {
          if (errno != 0)
            {
              removal.fail (path, errno);
              emptied = false;
            }
          break;
        }
      if (strcmp (child->d_name, ".") == 0 || strcmp (child->d_name, "..") == 0)
        continue;
      std::string child_path = path + "/" + child->d_name;
      emptied = remove_entry (removal, dirfd (folder), child->d_name, child_path, depth) && emptied;
    }
  closedir (folder);
  return emptied;
}

/* True when the entry is gone. */
bool
remove_entry (Removal &removal, gint parent_fd, const gchar *name, const std::string &path,
              gint depth)
{
  struct stat info;
  if (fstatat (parent_fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
    {
      if (errno == ENOENT)
        return true;
      removal.fail (path, errno);
      return false;
    }
  if (!S_ISDIR (info.st_mode))
    {
      if (removal.excluded (path))
        return false;
      if (removal.measuring ())
        {
          removal.count (info);
          return true;
        }
      if (unlinkat (parent_fd, name, 0) == 0 || errno == ENOENT)
        return true;
      removal.fail (path, errno);
      return false;
    }

  /* An excluded folder stays, and so does what an exclusion of it covers. */
  bool kept = removal.excluded (path) || removal.excluded (path + "/");
  if (depth >= max_depth)
    {
      removal.fail_too_deep (path);
      return false;
    }
  gint fd = openat (parent_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0)
    {
      if (errno == ENOENT)
        return true;
      removal.fail (path, errno);
      return false;
    }
  if (!empty_folder (removal, fd, path, depth + 1) || kept)
    return false;
  if (removal.measuring ())
    return true;
  if (unlinkat (parent_fd, name, AT_REMOVEDIR) == 0 || errno == ENOENT)
    return true;
  removal.fail (path, errno);
  return false;
}

/* Walks path, below its parent's descriptor; FALSE with error for the first entry it could not
 * remove or read. */
gboolean
walk (const gchar *path, Removal &removal, GError **error)
{
  g_autofree gchar *canonical = g_canonicalize_filename (path, "/");
  if (strcmp (canonical, "/") == 0)
    {
      g_set_error_literal (error, G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED, "Refusing to remove /");
      return FALSE;
    }
  g_autofree gchar *parent = g_path_get_dirname (canonical);
  g_autofree gchar *name = g_path_get_basename (canonical);
  gint parent_fd = open (parent, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  struct stat info;
  if (parent_fd < 0 || fstatat (parent_fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
    {
      gint error_number = errno;
      g_set_error (error, G_IO_ERROR, g_io_error_from_errno (error_number),
                   "Could not remove %s: %s", canonical, g_strerror (error_number));
      if (parent_fd >= 0)
        close (parent_fd);
      return FALSE;
    }
  remove_entry (removal, parent_fd, name, canonical, 0);
  close (parent_fd);
  return removal.result (error);
}

/* What a location's clearing spares: the exclusions of its categories in both tables. */
GSList *
clearing_exclusions (guint32 categories)
{
  GSList *patterns = NULL;
  for (SfBackupLocations *table : { sf_backup_configurations_get_locations (),
                                    sf_backup_configurations_get_permanent_locations () })
    if (table != NULL)
      patterns = g_slist_concat (patterns, sf_backup_locations_get_uris (table, categories, TRUE));
  return patterns;
}
} // namespace

gboolean
sf_tree_removal_remove (const gchar *path, GSList *exclusion_patterns, GError **error)
{
  g_return_val_if_fail (path != NULL && g_path_is_absolute (path), FALSE);

  Removal removal (exclusion_patterns);
  return walk (path, removal, error);
}

gboolean
sf_tree_removal_clear_location (const gchar *path, guint32 categories, GError **error)
{
  g_return_val_if_fail (path != NULL && g_path_is_absolute (path), FALSE);

  if (_sf_location_rules_permanent_covers_protected_folder (path, categories))
    {
      g_set_error (error, G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED,
                   "Refusing to remove %s: it holds a protected folder", path);
      return FALSE;
    }
  GSList *patterns = clearing_exclusions (categories);
  GError *removal_error = NULL;
  gboolean removed = sf_tree_removal_remove (path, patterns, &removal_error);
  g_slist_free_full (patterns, g_free);
  if (!removed && g_error_matches (removal_error, G_IO_ERROR, G_IO_ERROR_NOT_FOUND))
    {
      g_error_free (removal_error);
      return TRUE;
    }
  if (!removed)
    g_propagate_error (error, removal_error);
  return removed;
}

void
sf_tree_removal_measure_location (const gchar *path, guint32 categories,
                                  SfTreeRemovalFreedFunc func, gpointer user_data)
{
  g_return_if_fail (path != NULL && g_path_is_absolute (path));
  g_return_if_fail (func != NULL);

  if (_sf_location_rules_permanent_covers_protected_folder (path, categories))
    return;
  GSList *patterns = clearing_exclusions (categories);
  Removal measure (patterns, func, user_data);
  g_slist_free_full (patterns, g_free);
  walk (path, measure, NULL);
}
