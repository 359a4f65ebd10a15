#include "sf-permanent-file-list.h"

#include "sf-backup-locations.h"
#include "sf-error.h"
#include "sf-vfs-utils.h"
#include "sf-xml-reader.h"

#include <gio/gio.h>
#include <glib/gstdio.h>
#include <libxml/tree.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <string>

namespace
{
const gchar *const list_file_name = "permanent_file_list.xml";

/* Names and paths may hold any character; escaping keeps the list parseable. The numbers keep
 * their "64d" form that readers have always skipped. */
std::string
entry_line (const SfBackupUriInfo *entry)
{
  /* Locations are configured as absolute paths; anything else is taken as a URI. */
  g_autoptr (GFile) file = g_path_is_absolute (entry->uri) ? g_file_new_for_path (entry->uri)
                                                           : g_file_new_for_uri (entry->uri);
  g_autofree gchar *base_name = g_file_get_basename (file);
  g_autofree gchar *name = _sf_backend_parse_absolute_filename (base_name);
  g_autofree gchar *fullpath = g_file_get_uri (file);
  g_autofree gchar *escaped_name = g_markup_escape_text (name != NULL ? name : "", -1);
  g_autofree gchar *escaped_path = g_markup_escape_text (fullpath, -1);
  g_autofree gchar *line
      = g_strdup_printf ("<permanent_file name=\"%s\" category=\"%ud\" fullpath=\"%s\" "
                         "hash=\"%ud\"/>\n",
                         escaped_name, (guint)entry->categories, escaped_path, g_file_hash (file));
  return line;
}

gchar *
attribute_text (xmlNode *node, const char *name)
{
  xmlChar *value = xmlGetProp (node, BAD_CAST name);
  gchar *text = value != NULL ? g_strdup ((const gchar *)value) : NULL;
  xmlFree (value);
  return text;
}

/* The number up to the first character that is not a digit. */
guint32
attribute_number (xmlNode *node, const char *name)
{
  xmlChar *value = xmlGetProp (node, BAD_CAST name);
  guint32 number = value != NULL ? (guint32)strtoul ((const char *)value, NULL, 10) : 0;
  xmlFree (value);
  return number;
}

void
free_permanent_file (gpointer data)
{
  SfPermanentFile *file = static_cast<SfPermanentFile *> (data);
  g_free (file->name);
  g_free (file->fullpath);
  g_free (file);
}
} // namespace

gchar *
_sf_backend_parse_absolute_filename (const gchar *filename)
{
  g_return_val_if_fail (filename != NULL, NULL);
  const gchar *slash = strrchr (filename, '/');
  return g_strdup (slash != NULL ? slash + 1 : filename);
}

gboolean
sf_backend_save_permanent_file_list (GSList *entries, const gchar *backups_uri,
                                     const gchar *backup_name, GError **error)
{
  g_return_val_if_fail (backups_uri != NULL && backup_name != NULL, FALSE);
  g_return_val_if_fail (error == NULL || *error == NULL, FALSE);
  g_autofree gchar *uri = g_strdup_printf ("%s/%s/%s", backups_uri, backup_name, list_file_name);
  g_autoptr (GFile) file = g_file_new_for_uri (uri);
  g_autofree gchar *path = g_file_get_path (file);
  if (path == NULL)
    {
      g_set_error (error, SF_ERROR, SF_ERROR_BACKUP_FAILED, "Not a local file: %s", uri);
      return FALSE;
    }

  std::string text = "<permanent_file_list>\n";
  for (GSList *item = entries; item != NULL; item = item->next)
    text += entry_line (static_cast<const SfBackupUriInfo *> (item->data));
  text += "</permanent_file_list>";

  /* Written beside and renamed over: a memory that fills up or goes away half-way leaves the
   * earlier list, never a truncated one. */
  g_autofree gchar *temporary = g_strconcat (path, ".XXXXXX", NULL);
  int fd = g_mkstemp_full (temporary, O_WRONLY | O_CLOEXEC, 0644);
  int failure = 0;
  if (fd < 0 || !sf_vfs_utils_write_fd (fd, text.data (), text.size ()) || fsync (fd) != 0)
    failure = errno;
  if (fd >= 0 && close (fd) != 0 && failure == 0)
    failure = errno;
  if (fd >= 0 && failure == 0 && g_rename (temporary, path) != 0)
    failure = errno;
  if (failure == 0)
    return TRUE;
  if (fd >= 0)
    g_unlink (temporary);
  g_set_error (error, SF_ERROR,
               failure == ENOSPC ? SF_ERROR_BACKUP_NO_SPACE : SF_ERROR_BACKUP_FAILED,
               "Could not write %s: %s", path, g_strerror (failure));
  return FALSE;
}

GSList *
sf_backend_load_permanent_file_list (const gchar *backup_dir_path)
{
  g_return_val_if_fail (backup_dir_path != NULL, NULL);
  g_autofree gchar *path = g_strdup_printf ("%s/%s", backup_dir_path, list_file_name);
  xmlDoc *document = sf_xml_reader_read_file (path, NULL);
  xmlNode *root = document != NULL ? xmlDocGetRootElement (document) : NULL;
  GSList *list = NULL;
  for (xmlNode *node = root != NULL && xmlStrcmp (root->name, BAD_CAST "permanent_file_list") == 0
                           ? root->children
                           : NULL;
       node != NULL; node = node->next)
    {
      if (node->type != XML_ELEMENT_NODE || xmlStrcmp (node->name, BAD_CAST "permanent_file") != 0)
        continue;
      SfPermanentFile *entry = g_new0 (SfPermanentFile, 1);
      entry->name = attribute_text (node, "name");
      entry->fullpath = attribute_text (node, "fullpath");
      entry->hash = attribute_number (node, "hash");
      entry->category = (SfCategory)attribute_number (node, "category");
      list = g_slist_prepend (list, entry);
    }
  xmlFreeDoc (document);
  return g_slist_reverse (list);
}

void
sf_backend_free_permanent_file_list (GSList *list)
{
  g_slist_free_full (list, free_permanent_file);
}
