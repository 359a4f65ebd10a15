#include "sf-location-rules.h"

#include "sf-category.h"
#include "sf-config.h"
#include "sf-target.h"

#include <gio/gio.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{
/* The same names the target manager and the fake cards use. */
const gchar *const mount_point_variables[] = { "INTERNAL_MMC_MOUNTPOINT", "MMC_MOUNTPOINT" };
const gchar *const fake_cards_variable = "FAKE_MMC_DIR";
const gchar *const fake_card_marker = "mounted";

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

struct ProtectedFolder
{
  std::string path;
  gboolean is_gconf;
};

class ProtectedFolders
{
public:
  void add (const gchar *path, gboolean is_gconf = FALSE)
  {
    if (path != NULL && g_path_is_absolute (path))
      folders_.push_back ({ canonical (path), is_gconf });
  }

  void add (GFile *folder)
  {
    g_autofree gchar *path = folder != NULL ? g_file_get_path (folder) : NULL;
    add (path);
  }

  /* A storage root and the backups folder its target keeps below it. */
  void add_storage (const gchar *root)
  {
    if (root == NULL || !g_path_is_absolute (root))
      return;
    add (root);
    g_autofree gchar *backups = g_build_filename (root, SF_TARGET_BACKUPS_LOCATION_NAME, NULL);
    add (backups);
  }

  const std::vector<ProtectedFolder> &folders () const
  {
    return folders_;
  }

private:
  std::vector<ProtectedFolder> folders_;
};

void
add_gconf_folder (ProtectedFolders &folders, SfConfig *config)
{
  GFile *configured = config != NULL ? sf_config_get_gconf_dir (config) : NULL;
  g_autofree gchar *path = configured != NULL
                               ? g_file_get_path (configured)
                               : g_build_filename (g_get_home_dir (), ".gconf", NULL);
  folders.add (path, TRUE);
}

/* Every folder of the fake cards' folder that carries the marker is a card. */
void
add_fake_cards (ProtectedFolders &folders)
{
  const gchar *cards = g_getenv (fake_cards_variable);
  if (cards == NULL || !g_path_is_absolute (cards))
    return;
  g_autoptr (GDir) directory = g_dir_open (cards, 0, NULL);
  while (const gchar *name = directory != NULL ? g_dir_read_name (directory) : NULL)
    {
      g_autofree gchar *card = g_build_filename (cards, name, NULL);
      g_autofree gchar *marker = g_build_filename (card, fake_card_marker, NULL);
      if (g_file_test (marker, G_FILE_TEST_EXISTS))
        folders.add_storage (card);
    }
}

ProtectedFolders
protected_folders (void)
{
  ProtectedFolders folders;
  folders.add (g_get_home_dir ());
  g_autofree gchar *my_docs = g_build_filename (g_get_home_dir (), "MyDocs", NULL);
  folders.add (my_docs);
  SfConfig *config = sf_config_get ();
  if (config != NULL)
    {
      folders.add (sf_config_get_documents_dir (config));
      folders.add (_sf_config_get_configured_documents_dir (config));
    }
  folders.add (g_getenv ("MYDOCSDIR"));
  add_gconf_folder (folders, config);
  for (const gchar *variable : mount_point_variables)
    folders.add_storage (g_getenv (variable));
  add_fake_cards (folders);
  return folders;
}

gboolean
is_same_folder (const std::string &location, const std::string &real_location,
                const std::string &folder)
{
  if (location == folder)
    return TRUE;
  std::string real_folder = resolved (folder);
  return !real_location.empty () && real_location == real_folder;
}

gboolean
covers_any (const std::vector<ProtectedFolder> &folders, const std::string &location,
            const std::string &real_location, gboolean gconf_allowed)
{
  for (const ProtectedFolder &folder : folders)
    {
      if (gconf_allowed && folder.is_gconf && is_same_folder (location, real_location, folder.path))
        continue;
      std::string real_folder = resolved (folder.path);
      if (text_is_same_or_below (folder.path, location)
          || (!real_location.empty () && !real_folder.empty ()
              && text_is_same_or_below (real_folder, real_location)))
        return TRUE;
    }
  return FALSE;
}

gboolean
covers_protected_folder (const gchar *path, gboolean gconf_allowed)
{
  std::string location = canonical (path);
  if (location == "/")
    return TRUE;
  ProtectedFolders folders = protected_folders ();
  return covers_any (folders.folders (), location, resolved (location), gconf_allowed);
}
} // namespace

gboolean
_sf_location_rules_covers_protected_folder (const gchar *path)
{
  g_return_val_if_fail (path != NULL, TRUE);
  return covers_protected_folder (path, FALSE);
}

gboolean
_sf_location_rules_permanent_covers_protected_folder (const gchar *path, guint32 categories)
{
  g_return_val_if_fail (path != NULL, TRUE);
  return covers_protected_folder (path, categories == SF_CATEGORY_SETTINGS);
}

gboolean
_sf_location_rules_is_same_or_below (const gchar *path, const gchar *directory)
{
  g_return_val_if_fail (path != NULL && directory != NULL, FALSE);
  return text_is_same_or_below (canonical (path), canonical (directory));
}
