#include "sf-location-rules.h"

#include "sf-config.h"

#include <gio/gio.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{
std::string
canonical (const gchar *path)
{
  g_autofree gchar *resolved = g_canonicalize_filename (path, "/");
  return resolved;
}

/* The path with every link resolved, or nothing when some part of it does not exist. */
std::string
resolved (const std::string &path)
{
  g_autofree gchar *real = realpath (path.c_str (), NULL);
  return real != NULL ? real : "";
}

gboolean
text_is_same_or_below (const std::string &path, const std::string &directory)
{
  if (directory == "/")
    return TRUE;
  return path.compare (0, directory.size (), directory) == 0
         && (path.size () == directory.size () || path[directory.size ()] == '/');
}

void
add_folder (std::vector<std::string> &folders, GFile *folder)
{
  if (folder == NULL)
    return;
  g_autofree gchar *path = g_file_get_path (folder);
  if (path != NULL)
    folders.push_back (canonical (path));
}

std::vector<std::string>
protected_folders (void)
{
  std::vector<std::string> folders;
  folders.push_back (canonical (g_get_home_dir ()));
  SfConfig *config = sf_config_get ();
  if (config != NULL)
    {
      add_folder (folders, sf_config_get_documents_dir (config));
      add_folder (folders, sf_config_get_gconf_dir (config));
    }
  const gchar *documents = g_getenv ("MYDOCSDIR");
  if (documents != NULL && g_path_is_absolute (documents))
    folders.push_back (canonical (documents));
  return folders;
}
} // namespace

gboolean
_sf_location_rules_covers_protected_folder (const gchar *path)
{
  g_return_val_if_fail (path != NULL, TRUE);

  std::string location = canonical (path);
  std::string real_location = resolved (location);
  for (const std::string &folder : protected_folders ())
    {
      std::string real_folder = resolved (folder);
      if (text_is_same_or_below (folder, location)
          || (!real_location.empty () && !real_folder.empty ()
              && text_is_same_or_below (real_folder, real_location)))
        return TRUE;
    }
  return location == "/";
}

gboolean
_sf_location_rules_is_same_or_below (const gchar *path, const gchar *directory)
{
  g_return_val_if_fail (path != NULL && directory != NULL, FALSE);
  return text_is_same_or_below (canonical (path), canonical (directory));
}
