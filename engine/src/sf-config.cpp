#include "sf-config.h"

#include "sf-log.h"
#include "sf-utils.h"

#include <libxml/parser.h>
#include <cstdlib>

#define DEFAULT_CONFIG_DIR SAFEHOLD_DATA_DIR
#define DEFAULT_APP_KILLER_DELAY 5

struct _SfConfig
{
  GFile *gconf_dir;
  GFile *documents_dir;
  /* What the file named, kept when MYDOCSDIR takes its place. */
  GFile *configured_documents_dir;
  gint app_killer_delay;
};

namespace
{
SfConfig *the_config;

/* Sets *dir from the element's text unless it is already set. */
void
read_directory (xmlNode *element, GFile **dir, const gchar *invalid_message,
                const gchar *again_message)
{
  if (*dir != NULL)
    {
      SF_LOG_WARNING ("%s", again_message);
      return;
    }
  xmlChar *text = xmlNodeGetContent (element);
  g_autofree gchar *path = sf_utils_expand_path ((const gchar *)text);
  xmlFree (text);
  if (path == NULL)
    SF_LOG_WARNING ("%s", invalid_message);
  else
    *dir = g_file_new_for_path (path);
}

gint
read_delay (xmlNode *element)
{
  xmlChar *text = xmlNodeGetContent (element);
  gint delay = DEFAULT_APP_KILLER_DELAY;
  if (text != NULL && text[0] != '\0')
    delay = (gint)strtol ((const char *)text, NULL, 10);
  xmlFree (text);
  return delay;
}

gboolean
read_config_file (SfConfig *config, const gchar *file_name)
{
  if (!g_file_test (file_name, G_FILE_TEST_IS_REGULAR))
    return FALSE;
  xmlDoc *document
      = xmlReadFile (file_name, NULL, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  xmlNode *root = document != NULL ? xmlDocGetRootElement (document) : NULL;
  if (root == NULL || xmlStrcmp (root->name, BAD_CAST "backup-configuration") != 0)
    {
      xmlFreeDoc (document);
      return FALSE;
    }

  for (xmlNode *node = root->children; node != NULL; node = node->next)
    {
      if (node->type != XML_ELEMENT_NODE)
        continue;
      if (xmlStrcmp (node->name, BAD_CAST "gconf-dir") == 0)
        read_directory (node, &config->gconf_dir, "Invalid gconf dir found in config.",
                        "Already got gconf dir in config.");
      else if (xmlStrcmp (node->name, BAD_CAST "documents-path") == 0)
        read_directory (node, &config->documents_dir, "Invalid documents dir found in config.",
                        "Already got documents dir in config.");
      else if (xmlStrcmp (node->name, BAD_CAST "app-killer-delay") == 0)
        config->app_killer_delay = read_delay (node);
    }
  xmlFreeDoc (document);

  if (config->documents_dir == NULL)
    {
      g_autofree gchar *documents = sf_utils_expand_path ("$HOME/MyDocs");
      config->documents_dir = g_file_new_for_path (documents);
    }
  return TRUE;
}
} // namespace

void
sf_config_init (const gchar *dir)
{
  if (the_config != NULL)
    {
      SF_LOG_DEBUG ("Config already inited.");
      return;
    }
  the_config = g_new0 (SfConfig, 1);
  the_config->app_killer_delay = DEFAULT_APP_KILLER_DELAY;

  g_autofree gchar *file_name
      = g_build_filename (dir != NULL ? dir : DEFAULT_CONFIG_DIR, "safehold.conf", NULL);
  if (!read_config_file (the_config, file_name))
    SF_LOG_WARNING ("No valid backup configuration found.");

  if (the_config->documents_dir != NULL)
    the_config->configured_documents_dir = G_FILE (g_object_ref (the_config->documents_dir));
  const gchar *documents = g_getenv ("MYDOCSDIR");
  if (documents != NULL && documents[0] != '\0')
    {
      g_clear_object (&the_config->documents_dir);
      the_config->documents_dir = g_file_new_for_path (documents);
    }
}

SfConfig *
sf_config_get (void)
{
  return the_config;
}

void
sf_config_free (void)
{
  if (the_config == NULL)
    return;
  g_clear_object (&the_config->gconf_dir);
  g_clear_object (&the_config->documents_dir);
  g_clear_object (&the_config->configured_documents_dir);
  g_clear_pointer (&the_config, g_free);
}

GFile *
sf_config_get_gconf_dir (SfConfig *config)
{
  g_return_val_if_fail (config != NULL, NULL);
  return config->gconf_dir;
}

GFile *
sf_config_get_documents_dir (SfConfig *config)
{
  g_return_val_if_fail (config != NULL, NULL);
  return config->documents_dir;
}

GFile *
_sf_config_get_configured_documents_dir (SfConfig *config)
{
  g_return_val_if_fail (config != NULL, NULL);
  return config->configured_documents_dir;
}

gint
sf_config_get_app_killer_delay (SfConfig *config)
{
  g_return_val_if_fail (config != NULL, DEFAULT_APP_KILLER_DELAY);
  return config->app_killer_delay;
}
