#include "sf-utils.h"

#include "sf-log.h"
#include "sf-xml-reader.h"

#include <glib/gstdio.h>
#include <libxml/tree.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace
{
gchar *
home_file (const gchar *name)
{
  return g_build_filename (g_get_home_dir (), ".safehold", name, NULL);
}

std::string
record_text (SfRestoreFailure *failure, SfCategory written_categories, gint64 restored_size)
{
  std::string incomplete;
  std::string written;
  for (gint index = 0; index < SF_CATEGORY_COUNT; index++)
    {
      SfCategory category = sf_category_from_index (index);
      std::string name = sf_category_to_string (category);
      if (failure != NULL && sf_restore_failure_has_category (failure, category))
        incomplete += "    <" + name + ">"
                      + sf_restore_failure_reason_to_string (
                          sf_restore_failure_get_category_reason (failure, category))
                      + "</" + name + ">\n";
      if (written_categories & category)
        written += "    <" + name + "/>\n";
    }
  /* Readers take the size as a 32-bit number. */
  g_autofree gchar *text = g_strdup_printf (
      "<last-restore>\n  <size>%ld</size>\n  <incomplete-categories>\n%s  "
      "</incomplete-categories>\n  <written-categories>\n%s  </written-categories>\n"
      "</last-restore>\n",
      (long)(gint32)restored_size, incomplete.c_str (), written.c_str ());
  return text;
}

/* The element's text as a number; trailing text is warned about and ignored. */
gint64
read_size (xmlNode *element)
{
  xmlChar *text = xmlNodeGetContent (element);
  const char *digits = text != NULL ? (const char *)text : "";
  char *end = NULL;
  gint64 size = (gint)strtol (digits, &end, 10);
  if (end != NULL && *end != '\0')
    SF_LOG_WARNING ("Invalid size in last restore info.");
  xmlFree (text);
  return size;
}

void
read_incomplete (xmlNode *list, SfRestoreFailure **failure)
{
  for (xmlNode *node = list->children; node != NULL; node = node->next)
    {
      if (node->type != XML_ELEMENT_NODE)
        continue;
      if (*failure == NULL)
        *failure = sf_restore_failure_new ();
      SfCategory category = sf_category_from_string ((const gchar *)node->name);
      if (category == SF_CATEGORY_NONE)
        SF_LOG_ERROR ("Invalid category");
      xmlChar *text = xmlNodeGetContent (node);
      gint reason = text != NULL && text[0] != '\0'
                        ? sf_restore_failure_reason_from_string ((const gchar *)text)
                        : -1;
      xmlFree (text);
      sf_restore_failure_set_category_reason (*failure, category, reason);
    }
}

guint
read_written (xmlNode *list)
{
  guint categories = SF_CATEGORY_NONE;
  for (xmlNode *node = list->children; node != NULL; node = node->next)
    if (node->type == XML_ELEMENT_NODE)
      categories |= sf_category_from_string ((const gchar *)node->name);
  return categories;
}
} // namespace

gboolean
sf_utils_write_last_restore (SfRestoreFailure *failure, SfCategory written_categories,
                             gint64 restored_size)
{
  g_autofree gchar *dir = g_build_filename (g_get_home_dir (), ".safehold", NULL);
  if (g_mkdir_with_parents (dir, 0755) != 0)
    SF_LOG_WARNING ("Couldn't create backup directory: %s", dir);
  g_autofree gchar *placeholder = home_file ("last-restore.placeholder");
  g_unlink (placeholder);

  g_autofree gchar *path = home_file ("last-restore.xml");
  FILE *file = g_fopen (path, "w");
  if (file == NULL)
    return FALSE;
  std::string text = record_text (failure, written_categories, restored_size);
  gboolean complete = fwrite (text.data (), 1, text.size (), file) == text.size ()
                      && fflush (file) == 0 && fsync (fileno (file)) == 0;
  complete = fclose (file) == 0 && complete;
  return complete;
}

gboolean
sf_utils_read_last_restore (SfRestoreFailure **failure, SfCategory *written_categories,
                            gint64 *restored_size)
{
  g_return_val_if_fail (failure != NULL && written_categories != NULL && restored_size != NULL,
                        FALSE);
  *failure = NULL;
  *written_categories = SF_CATEGORY_NONE;
  *restored_size = 0;

  g_autofree gchar *path = home_file ("last-restore.xml");
  xmlDoc *document = sf_xml_reader_read_file (path, NULL);
  xmlNode *root = document != NULL ? xmlDocGetRootElement (document) : NULL;
  if (root == NULL || xmlStrcmp (root->name, BAD_CAST "last-restore") != 0)
    {
      xmlFreeDoc (document);
      return FALSE;
    }

  guint written = SF_CATEGORY_NONE;
  for (xmlNode *node = root->children; node != NULL; node = node->next)
    {
      if (node->type != XML_ELEMENT_NODE)
        continue;
      if (xmlStrcmp (node->name, BAD_CAST "size") == 0)
        *restored_size = read_size (node);
      else if (xmlStrcmp (node->name, BAD_CAST "incomplete-categories") == 0)
        read_incomplete (node, failure);
      else if (xmlStrcmp (node->name, BAD_CAST "written-categories") == 0)
        written |= read_written (node);
    }
  *written_categories = (SfCategory)written;
  xmlFreeDoc (document);
  return TRUE;
}

void
sf_utils_remove_last_restore (void)
{
  g_autofree gchar *path = home_file ("last-restore.xml");
  g_autofree gchar *placeholder = home_file ("last-restore.placeholder");
  g_unlink (path);
  g_unlink (placeholder);
}
