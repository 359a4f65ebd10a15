#include "sf-backup-configurations.h"

#include "sf-location-rules.h"
#include "sf-log.h"
#include "sf-utils.h"
#include "sf-xml-reader.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace
{
const gchar *const default_config_dir = SAFEHOLD_DATA_DIR;
const gchar *const test_applications_file_name
    = "REMOVE_THIS_FILE_IF_SAFEHOLD-TESTS_PACKAGE_IS_NOT_INSTALLED.txt";
const gint config_category_count = 7;

struct Tables
{
  SfBackupLocations *locations;
  SfBackupLocations *permanent_locations;
  GList *names;
  GTree *methods;       /* name -> SfBackupMethod */
  GTree *dbus_infos;    /* name -> SfBackupDbusInfo */
  GTree *scripts_infos; /* name -> SfBackupScriptsInfo */
  GSList *category_applications[config_category_count];
  gboolean test_applications_installed;
  GSList *test_applications;
  GSList *additional_test_applications;
};

Tables *tables;

/* What one configuration file is being read into. */
struct ParseContext
{
  SfBackupLocations *locations;
  SfBackupLocations *permanent_locations;
  const gchar *file_name;
  gboolean trusted;
  const gchar *name;
};

void
dbus_info_free (SfBackupDbusInfo *info)
{
  g_free (info->service);
  g_free (info->object);
  g_free (info);
}

void
scripts_info_free (SfBackupScriptsInfo *info)
{
  g_free (info->backup_script);
  g_free (info->restore_script);
  g_free (info);
}

gint
compare_names (gconstpointer a, gconstpointer b, gpointer)
{
  return strcmp ((const gchar *)a, (const gchar *)b);
}

GTree *
new_name_map (GDestroyNotify value_free)
{
  return g_tree_new_full (compare_names, NULL, g_free, value_free);
}

gboolean
name_is_known (const gchar *name)
{
  return g_list_find_custom (tables->names, name, (GCompareFunc)strcmp) != NULL;
}

void
remove_name (GList **names, const gchar *name)
{
  GList *link = g_list_find_custom (*names, name, (GCompareFunc)strcmp);
  if (link == NULL)
    return;
  g_free (link->data);
  *names = g_list_delete_link (*names, link);
}

gboolean
remove_from_category (gint index, const gchar *name)
{
  GSList **list = &tables->category_applications[index];
  GSList *link = g_slist_find_custom (*list, name, (GCompareFunc)strcmp);
  if (link == NULL)
    return FALSE;
  g_free (link->data);
  *list = g_slist_delete_link (*list, link);
  return TRUE;
}

gint
remove_locations_of (SfBackupLocations *locations, const gchar *name)
{
  gint removed = 0;
  GHashTableIter iter;
  gpointer value;
  g_hash_table_iter_init (&iter, locations);
  while (g_hash_table_iter_next (&iter, NULL, &value))
    if (strcmp (((SfBackupLocation *)value)->appl_name, name) == 0)
      {
        g_hash_table_iter_remove (&iter);
        removed++;
      }
  return removed;
}

/* Takes a rejected or removed application's records and its name out of the tables. */
void
forget_application (const gchar *name)
{
  g_tree_remove (tables->methods, name);
  if (g_tree_remove (tables->dbus_infos, name))
    SF_LOG_DEBUG ("sf-backup-configurations: Removed application: %s D-Bus info from "
                  "applications D-Bus info datastructure\n",
                  name);
  if (g_tree_remove (tables->scripts_infos, name))
    SF_LOG_DEBUG ("sf-backup-configurations: Removed application: %s backup scripts info from "
                  "applications backup scripts datastructure\n",
                  name);
  remove_name (&tables->names, name);
}

/* XML helpers. Only direct text is read, so entity references declared by a file are never
 * expanded. */

xmlNode *
find_element (xmlNode *first, const gchar *name)
{
  for (xmlNode *node = first; node != NULL; node = node->next)
    if (node->type == XML_ELEMENT_NODE && xmlStrcmp (node->name, BAD_CAST name) == 0)
      return node;
  return NULL;
}

xmlNode *
find_child (xmlNode *parent, const gchar *name)
{
  return find_element (parent->children, name);
}

/* The element's own text, trimmed. */
gchar *
element_text (xmlNode *element)
{
  std::string text;
  for (xmlNode *node = element->children; node != NULL; node = node->next)
    if ((node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE)
        && node->content != NULL)
      text += (const char *)node->content;
  return g_strstrip (g_strdup (text.c_str ()));
}

gchar *
property (xmlNode *element, const gchar *name)
{
  xmlChar *value = xmlGetProp (element, BAD_CAST name);
  gchar *copy = g_strdup ((const gchar *)value);
  xmlFree (value);
  return copy;
}

/* The configuration file's parts, in the order they are checked. */

gboolean
check_application_type (xmlNode *root, const gchar *file_name)
{
  xmlNode *type = find_child (root, "application-type");
  if (type == NULL || type->children == NULL)
    {
      SF_LOG_WARNING ("sf-backup-configurations: Missing application-type element from XML "
                      "configuration file: %s",
                      file_name);
      return FALSE;
    }
  g_autofree gchar *text = element_text (type);
  if (strcmp (text, "korvel") != 0 && strcmp (text, "third-party") != 0)
    {
      SF_LOG_WARNING ("sf-backup-configurations: Invalid application-type information in XML "
                      "configuration file: %s",
                      file_name);
      return FALSE;
    }
  return TRUE;
}

/* The application's name when it is valid and free; it is then in the name list. */
const gchar *
register_application_name (xmlNode *root, const gchar *file_name)
{
  xmlNode *element = find_child (root, "application-name");
  if (element == NULL)
    {
      SF_LOG_WARNING ("sf-backup-configurations: Could not find application name from XML "
                      "configuration file %s",
                      file_name);
      return NULL;
    }
  g_autofree gchar *name = element_text (element);
  if (name[0] == '\0')
    {
      SF_LOG_WARNING ("sf-backup-configurations: Could not find valid application name from XML "
                      "configuration file %s",
                      file_name);
      return NULL;
    }
  if (name_is_known (name))
    {
      SF_LOG_WARNING ("sf-backup-configurations: Application name: %s is already in use by an "
                      "other application. XML configuration file: %s",
                      name, file_name);
      return NULL;
    }
  tables->names = g_list_append (tables->names, g_steal_pointer (&name));
  return (const gchar *)g_list_last (tables->names)->data;
}

gboolean
parse_and_save_application_backup_methods (xmlNode *root, const ParseContext &context,
                                           SfBackupMethod *method)
{
  xmlNode *element = find_child (root, "backup-method");
  if (element == NULL)
    {
      SF_LOG_WARNING ("sf-backup-configurations: Could not find backup method from XML "
                      "configuration file %s",
                      context.file_name);
      return FALSE;
    }
  g_autofree gchar *text = element_text (element);
  if (text[0] == '\0')
    {
      SF_LOG_WARNING ("sf-backup-configurations: Could not find valid backup method from XML "
                      "configuration file %s",
                      context.file_name);
      return FALSE;
    }
  method->dbus = strstr (text, "backup-dbus") != NULL;
  method->scripts = strstr (text, "backup-scripts") != NULL;
  method->permanent_files = strstr (text, "permanent-backup-files") != NULL;
  if (!method->dbus && !method->scripts && !method->permanent_files)
    {
      SF_LOG_WARNING ("sf-backup-configurations: Invalid backup method information in XML "
                      "configuration file: %s",
                      context.file_name);
      return FALSE;
    }
  g_tree_replace (tables->methods, g_strdup (context.name), g_memdup2 (method, sizeof *method));
  return TRUE;
}

gboolean
read_dbus_element (xmlNode *root, const ParseContext &context)
{
  xmlNode *element = find_child (root, "backup-dbus");
  if (element == NULL)
    {
      SF_LOG_WARNING ("sf-backup-configurations: Backup D-bus data is not present in file %s",
                      context.file_name);
      return FALSE;
    }
  xmlNode *service_element = find_child (element, "dbus-service");
  if (service_element == NULL)
    {
      SF_LOG_WARNING ("sf-backup-configurations: Missing backup D-Bus service definition from "
                      "backup D-bus data in XML configuration file");
      return FALSE;
    }
  g_autofree gchar *service = element_text (service_element);
  g_autofree gchar *object = property (service_element, "object");
  if (service[0] == '\0' || (object != NULL && object[0] == '\0'))
    {
      SF_LOG_WARNING ("sf-backup-configurations: Invalid application backup D-Bus service "
                      "information in XML configuration file");
      return FALSE;
    }
  if (object == NULL)
    {
      SF_LOG_WARNING ("sf-backup-configurations: Invalid application backup D-Bus object "
                      "information in XML configuration file");
      return FALSE;
    }
  SfBackupDbusInfo *info = g_new (SfBackupDbusInfo, 1);
  info->flags = 0;
  info->service = g_steal_pointer (&service);
  info->object = g_steal_pointer (&object);
  g_tree_replace (tables->dbus_infos, g_strdup (context.name), info);
  return TRUE;
}

gboolean
parse_and_save_application_backup_dbus_data (xmlNode *root, const ParseContext &context)
{
  if (read_dbus_element (root, context))
    return TRUE;
  SF_LOG_WARNING ("sf-backup-configurations: Found invalid application backup dbus data from XML "
                  "configuration file %s",
                  context.file_name);
  return FALSE;
}

gboolean
read_scripts_element (xmlNode *root, const ParseContext &context)
{
  xmlNode *element = find_child (root, "backup-scripts");
  if (element == NULL)
    {
      SF_LOG_WARNING ("sf-backup-configurations: Backup scripts data is not present in file %s",
                      context.file_name);
      return FALSE;
    }
  xmlNode *backup_element = find_child (element, "backup-script-name");
  if (backup_element == NULL)
    {
      SF_LOG_WARNING ("sf-backup-configurations: Missing backup scripts name element from backup "
                      "scripts data in XML configuration file");
      return FALSE;
    }
  g_autofree gchar *backup_script = element_text (backup_element);
  if (backup_script[0] == '\0')
    {
      SF_LOG_WARNING ("sf-backup-configurations: Invalid backup script name information in XML "
                      "configuration file");
      return FALSE;
    }
  xmlNode *restore_element = find_element (backup_element->next, "restore-script-name");
  if (restore_element == NULL)
    {
      SF_LOG_WARNING ("sf-backup-configurations: Missing restore script name definition from "
                      "backup scripts data in XML configuration file");
      return FALSE;
    }
  g_autofree gchar *restore_script = element_text (restore_element);
  if (restore_script[0] == '\0')
    {
      SF_LOG_WARNING ("sf-backup-configurations: Invalid restore script name information in XML "
                      "configuration file");
      return FALSE;
    }
  SfBackupScriptsInfo *info = g_new (SfBackupScriptsInfo, 1);
  info->backup_script = g_steal_pointer (&backup_script);
  info->restore_script = g_steal_pointer (&restore_script);
  g_tree_replace (tables->scripts_infos, g_strdup (context.name), info);
  return TRUE;
}

gboolean
parse_and_save_application_backup_scripts_data (xmlNode *root, const ParseContext &context)
{
  if (read_scripts_element (root, context))
    return TRUE;
  SF_LOG_WARNING ("sf-backup-configurations: Found invalid application backup scripts data from "
                  "XML configuration file %s",
                  context.file_name);
  return FALSE;
}

/* Third-party files may only name paths in the user's home or the install home. A ".." could
 * step out of either. */
gboolean
is_same_or_below (const gchar *path, const gchar *directory)
{
  gsize length = strlen (directory);
  while (length > 1 && directory[length - 1] == '/')
    length--;
  return strncmp (path, directory, length) == 0
         && (path[length] == '\0' || path[length] == '/' || directory[length - 1] == '/');
}

gboolean
is_allowed_for_third_party (const gchar *path)
{
  g_auto (GStrv) components = g_strsplit (path, "/", -1);
  for (gchar **component = components; *component != NULL; component++)
    if (strcmp (*component, "..") == 0)
      return FALSE;
  g_autofree gchar *install_home = sf_utils_get_install_home ();
  return is_same_or_below (path, g_get_home_dir ()) || is_same_or_below (path, install_home);
}

/* The entry's category flag, or NONE with the entry's message. */
SfCategory
location_category (xmlNode *entry, const gchar *text, const ParseContext &context)
{
  g_autofree gchar *category_name = property (entry, "category");
  if (category_name == NULL)
    {
      SF_LOG_WARNING ("*********** Missing content category value for the backup location: %s in "
                      "%s application XML configuration file",
                      text, context.name);
      return SF_CATEGORY_NONE;
    }
  SfCategory category = sf_category_from_string (category_name);
  if (category == SF_CATEGORY_NONE)
    {
      SF_LOG_WARNING ("******** Invalid content category value %s for the backup location: %s "
                      "in %s application XML configuration file",
                      category_name, text, context.name);
      return SF_CATEGORY_NONE;
    }
  if (sf_category_to_index (category) > sf_category_get_last_config_index ())
    {
      SF_LOG_WARNING ("Invalid content category value %s for the backup location: %s in %s "
                      "application configuration file",
                      category_name, text, context.name);
      return SF_CATEGORY_NONE;
    }
  return category;
}

void
report_auto_property (xmlNode *entry, gboolean is_exclusion, const gchar *text,
                      const ParseContext &context)
{
  g_autofree gchar *value = property (entry, "auto");
  if (value == NULL)
    return;
  if (is_exclusion)
    SF_LOG_WARNING ("Can't have property auto in locations config for exclusion.");
  else
    SF_LOG_WARNING ("Invalid auto property %s ,backup location %s in %s application "
                    "configuration file",
                    value, text, context.name);
}

void
add_to_category (SfCategory category, const gchar *name)
{
  GSList **list = &tables->category_applications[sf_category_to_index (category)];
  if (g_slist_find_custom (*list, name, (GCompareFunc)strcmp) == NULL)
    *list = g_slist_append (*list, g_strdup (name));
}

/* An ordinary location's files are deleted once packed, and a restore removes every location of
 * the categories it restores before putting files back. */
gboolean
removes_user_folder (const gchar *type, gboolean is_exclusion, const gchar *path,
                     SfCategory category, const ParseContext &context)
{
  if (is_exclusion)
    return FALSE;
  if (strcmp (type, "file") == 0 || strcmp (type, "dir") == 0)
    {
      if (!_sf_location_rules_covers_protected_folder (path))
        return FALSE;
      SF_LOG_WARNING ("sf-backup-configurations: Location %s in XML configuration file %s would "
                      "delete the user's data: an ordinary location may not be /, the home "
                      "folder, the documents folder, the GConf directory, a memory's mount point "
                      "or backups folder, or a folder above them",
                      path, context.file_name);
      return TRUE;
    }
  if (strcmp (type, "permanent-backup-file") != 0
      || !_sf_location_rules_permanent_covers_protected_folder (path, category))
    return FALSE;
  SF_LOG_WARNING ("sf-backup-configurations: Permanent location %s in XML configuration file %s "
                  "would have a restore delete the user's data: it may not be /, the home "
                  "folder, the documents folder, a memory's mount point or backups folder, or a "
                  "folder above them; the GConf directory only for the settings category",
                  path, context.file_name);
  return TRUE;
}

/* A third-party exclusion may only thin out the application's own locations. */
gboolean
is_inside_own_locations (const gchar *path, const std::vector<std::string> &own_locations)
{
  for (const std::string &location : own_locations)
    if (_sf_location_rules_is_same_or_below (path, location.c_str ()))
      return TRUE;
  return FALSE;
}

gboolean
parse_location_entry (xmlNode *entry, const ParseContext &context,
                      const std::vector<std::string> &own_locations)
{
  gboolean is_exclusion = xmlStrcmp (entry->name, BAD_CAST "exclusion") == 0;
  g_autofree gchar *type = property (entry, "type");
  if (type == NULL)
    {
      SF_LOG_WARNING ("************ No type in locations config.");
      return FALSE;
    }
  g_autofree gchar *text = element_text (entry);
  SfCategory category = location_category (entry, text, context);
  if (category == SF_CATEGORY_NONE)
    return FALSE;
  report_auto_property (entry, is_exclusion, text, context);

  g_autofree gchar *path = sf_utils_expand_path (text);
  if (path == NULL)
    return FALSE;
  if (!context.trusted && !is_allowed_for_third_party (path))
    {
      SF_LOG_WARNING ("Third-party applications must not have system paths listed:\n %s", path);
      return FALSE;
    }
  if (removes_user_folder (type, is_exclusion, path, category, context))
    return FALSE;
  if (!context.trusted && is_exclusion && !is_inside_own_locations (path, own_locations))
    {
      SF_LOG_WARNING ("sf-backup-configurations: Exclusion %s in XML configuration file %s is "
                      "ignored: it lies outside the application's own locations",
                      path, context.file_name);
      return TRUE;
    }

  SfBackupLocations *table = NULL;
  if (strcmp (type, "file") == 0 || strcmp (type, "dir") == 0)
    table = context.locations;
  else if (strcmp (type, "permanent-backup-file") == 0)
    table = context.permanent_locations;
  else
    {
      SF_LOG_WARNING ("Invalid location type %s for the backup location: %s in %s application "
                      "configuration file",
                      type, text, context.name);
      return FALSE;
    }
  if (!_sf_backup_locations_add_location (table, context.name, path, category,
                                          strcmp (type, "dir") == 0, is_exclusion))
    return FALSE;
  add_to_category (category, context.name);
  return TRUE;
}

/* The expanded paths of the file's location elements, wherever they stand among its entries.
 * A path that cannot be expanded is reported once, when its own entry is read. */
std::vector<std::string>
own_location_paths (xmlNode *locations)
{
  std::vector<std::string> paths;
  for (xmlNode *node = find_child (locations, "location"); node != NULL;
       node = find_element (node->next, "location"))
    {
      g_autofree gchar *text = element_text (node);
      g_autofree gchar *path = sf_utils_expand_path_silently (text);
      if (path != NULL)
        paths.push_back (path);
    }
  return paths;
}

gboolean
parse_locations (xmlNode *root, const ParseContext &context)
{
  xmlNode *locations = find_child (root, "locations");
  if (locations == NULL)
    return TRUE;
  std::vector<std::string> own_locations
      = context.trusted ? std::vector<std::string> () : own_location_paths (locations);
  for (xmlNode *node = locations->children; node != NULL; node = node->next)
    {
      if (node->type != XML_ELEMENT_NODE)
        continue;
      if (xmlStrcmp (node->name, BAD_CAST "location") != 0
          && xmlStrcmp (node->name, BAD_CAST "exclusion") != 0)
        {
          SF_LOG_WARNING ("sf-backup-configurations: Unknown element <%s> in <locations> of XML "
                          "configuration file %s",
                          (const gchar *)node->name, context.file_name);
          return FALSE;
        }
      if (!parse_location_entry (node, context, own_locations))
        return FALSE;
    }
  return TRUE;
}

/* Reads the parts after the name; FALSE rejects the file. */
gboolean
parse_application (xmlNode *root, const ParseContext &context)
{
  SfBackupMethod method;
  if (!parse_and_save_application_backup_methods (root, context, &method))
    return FALSE;
  if (method.dbus && !parse_and_save_application_backup_dbus_data (root, context))
    return FALSE;
  if (method.scripts && !parse_and_save_application_backup_scripts_data (root, context))
    return FALSE;
  /* Applications with permanent files may also want the start and end of a backup told. */
  if (method.permanent_files && !method.dbus)
    parse_and_save_application_backup_dbus_data (root, context);
  return parse_locations (root, context);
}

gboolean
parse_document (xmlDoc *document, ParseContext &context)
{
  xmlNode *root = xmlDocGetRootElement (document);
  if (root == NULL || xmlStrcmp (root->name, BAD_CAST "backup-configuration") != 0)
    return FALSE;
  if (!check_application_type (root, context.file_name))
    return FALSE;
  context.name = register_application_name (root, context.file_name);
  if (context.name == NULL)
    return FALSE;
  g_autofree gchar *name = g_strdup (context.name);
  if (parse_application (root, context))
    return TRUE;
  /* The name is new, so everything filed under it came from this file. */
  remove_locations_of (context.locations, name);
  remove_locations_of (context.permanent_locations, name);
  for (gint index = 0; index < config_category_count; index++)
    remove_from_category (index, name);
  forget_application (name);
  return FALSE;
}

/* Reports why a document could not be read; a file that simply is no XML is rejected without a
 * word, like one with another root element. */
void
report_unreadable (const gchar *file_name, const GError *error)
{
  if (!g_error_matches (error, G_IO_ERROR, G_IO_ERROR_INVALID_DATA))
    SF_LOG_WARNING ("sf-backup-configurations: Could not read XML configuration file %s: %s",
                    file_name, error->message);
}

gboolean
parse_configuration (xmlDoc *document, const ParseContext &context)
{
  ParseContext file_context = context;
  gboolean accepted = parse_document (document, file_context);
  xmlFreeDoc (document);
  return accepted;
}

/* kind names the list in the log. */
GSList *
read_application_names (xmlNode *parent, const gchar *kind)
{
  GSList *names = NULL;
  for (xmlNode *node = find_child (parent, "application-name"); node != NULL;
       node = find_element (node->next, "application-name"))
    {
      gchar *name = element_text (node);
      SF_LOG_DEBUG (
          "sf-backup-configurations: parse_installed_test_applications(): Added %s: %s \n", kind,
          name);
      names = g_slist_prepend (names, name);
    }
  return g_slist_reverse (names);
}

gboolean
parse_installed_test_applications (xmlDoc *document, const gchar *file_name)
{
  xmlNode *root = xmlDocGetRootElement (document);
  if (root == NULL || xmlStrcmp (root->name, BAD_CAST "installed-test-applications") != 0)
    {
      SF_LOG_WARNING ("sf-backup-configurations: Missing correct root element in XML file: %s",
                      file_name);
      return FALSE;
    }
  xmlNode *test_element = find_child (root, "test-applications");
  if (test_element == NULL)
    {
      SF_LOG_WARNING ("sf-backup-configurations: Missing <test-applications> element in XML "
                      "file: %s",
                      file_name);
      return FALSE;
    }
  tables->test_applications = g_slist_concat (
      tables->test_applications, read_application_names (test_element, "test application"));
  xmlNode *additional_element
      = root->children != NULL
            ? find_element (root->children->next, "additional-unit-test-applications")
            : NULL;
  if (additional_element == NULL)
    {
      SF_LOG_WARNING ("sf-backup-configurations: Missing <additional-unit-test-applications> "
                      "element in XML file: %s",
                      file_name);
      return FALSE;
    }
  tables->additional_test_applications = g_slist_concat (
      tables->additional_test_applications,
      read_application_names (additional_element, "additional unit test application"));
  return TRUE;
}

gboolean
read_test_applications_file (GFile *file)
{
  g_autofree gchar *file_name = g_file_get_path (file);
  xmlDoc *document = sf_xml_reader_read_file (file_name, NULL);
  if (document == NULL)
    {
      SF_LOG_WARNING ("sf-backup-configurations: Invalid XML syntax in file: %s", file_name);
      return FALSE;
    }
  gboolean read = parse_installed_test_applications (document, file_name);
  xmlFreeDoc (document);
  return read;
}

/* The regular files of the directory by name, so that the first of two files naming the same
 * application is the same on every start. FALSE when the directory cannot be read. */
gboolean
list_regular_files (GFile *directory, std::vector<std::string> &names)
{
  g_autoptr (GFileEnumerator) children = g_file_enumerate_children (
      directory,
      G_FILE_ATTRIBUTE_STANDARD_FAST_CONTENT_TYPE "," G_FILE_ATTRIBUTE_STANDARD_TYPE
                                                  "," G_FILE_ATTRIBUTE_STANDARD_NAME,
      G_FILE_QUERY_INFO_NONE, NULL, NULL);
  if (children == NULL)
    return FALSE;
  for (;;)
    {
      g_autoptr (GError) error = NULL;
      g_autoptr (GFileInfo) info = g_file_enumerator_next_file (children, NULL, &error);
      if (info == NULL && error == NULL)
        break;
      if (info != NULL && g_file_info_get_file_type (info) == G_FILE_TYPE_REGULAR)
        names.push_back (g_file_info_get_name (info));
    }
  std::sort (names.begin (), names.end ());
  return TRUE;
}

void
create_tables (void)
{
  tables = g_new0 (Tables, 1);
  tables->locations = sf_backup_locations_new ();
  tables->permanent_locations = sf_backup_locations_new ();
  tables->methods = new_name_map (g_free);
  tables->dbus_infos = new_name_map ((GDestroyNotify)dbus_info_free);
  tables->scripts_infos = new_name_map ((GDestroyNotify)scripts_info_free);
}

gint
application_lookup_status (const gchar *function, const gchar *name)
{
  if (name != NULL && name_is_known (name))
    return 1;
  SF_LOG_DEBUG ("%s(): The application name does not exits.  Input parameter 'application name' "
                "has unknown value: %s",
                function, name);
  return -1;
}
} // namespace

void
sf_backup_configurations_init (const gchar *dir)
{
  if (tables != NULL)
    {
      SF_LOG_DEBUG ("Locations already inited.");
      return;
    }
  create_tables ();

  g_autofree gchar *trusted_dir
      = g_build_filename (dir != NULL ? dir : default_config_dir, "applications", NULL);
  backup_configurations_read_directory (tables->locations, tables->permanent_locations, trusted_dir,
                                        TRUE);
  g_autofree gchar *install_home = sf_utils_get_install_home ();
  g_autofree gchar *untrusted_dir
      = g_build_filename (install_home, "usr/share", "safehold", "applications", NULL);
  if (g_path_is_absolute (untrusted_dir))
    backup_configurations_read_directory (tables->locations, tables->permanent_locations,
                                          untrusted_dir, FALSE);
  else
    SF_LOG_DEBUG ("Invalid config path: %s", untrusted_dir);

  _sf_backup_locations_remove_redundancies (tables->locations);
}

void
sf_backup_configurations_init_empty (void)
{
  if (tables != NULL)
    {
      SF_LOG_DEBUG ("Locations already inited.");
      return;
    }
  create_tables ();
}

void
sf_backup_configurations_free (void)
{
  if (tables == NULL)
    return;
  sf_backup_locations_free (tables->locations);
  sf_backup_locations_free (tables->permanent_locations);
  g_list_free_full (tables->names, g_free);
  g_tree_unref (tables->methods);
  g_tree_unref (tables->dbus_infos);
  g_tree_unref (tables->scripts_infos);
  for (GSList *list : tables->category_applications)
    g_slist_free_full (list, g_free);
  g_slist_free_full (tables->test_applications, g_free);
  g_slist_free_full (tables->additional_test_applications, g_free);
  g_clear_pointer (&tables, g_free);
}

void
backup_configurations_read_directory (SfBackupLocations *locations,
                                      SfBackupLocations *permanent_locations,
                                      const gchar *config_dir, gboolean trusted)
{
  g_return_if_fail (tables != NULL);
  g_return_if_fail (config_dir != NULL);
  g_return_if_fail (config_dir[0] == '/');

  g_autoptr (GFile) directory = g_file_new_for_path (config_dir);
  std::vector<std::string> names;
  if (!list_regular_files (directory, names))
    {
      SF_LOG_DEBUG ("Invalid config path: %s", config_dir);
      return;
    }
  for (const std::string &name : names)
    {
      g_autoptr (GFile) file = g_file_get_child (directory, name.c_str ());
      if (g_str_has_suffix (name.c_str (), ".conf"))
        backup_configurations_parse_conf_file (locations, permanent_locations, file, trusted);
      else if (name == test_applications_file_name && !trusted)
        SF_LOG_WARNING ("sf-backup-configurations: %s in %s is ignored: only the installed "
                        "configuration directory may name test applications",
                        test_applications_file_name, config_dir);
      else if (name == test_applications_file_name && read_test_applications_file (file))
        tables->test_applications_installed = TRUE;
    }
}

gboolean
backup_configurations_parse_conf_file (SfBackupLocations *locations,
                                       SfBackupLocations *permanent_locations, GFile *file,
                                       gboolean trusted)
{
  g_return_val_if_fail (G_IS_FILE (file), FALSE);

  g_return_val_if_fail (tables != NULL, FALSE);
  g_return_val_if_fail (locations != NULL, FALSE);
  g_return_val_if_fail (permanent_locations != NULL, FALSE);

  g_autofree gchar *file_name = g_file_get_path (file);
  g_autoptr (GError) error = NULL;
  xmlDoc *document = file_name != NULL ? sf_xml_reader_read_file (file_name, &error) : NULL;
  if (document == NULL)
    {
      if (error != NULL)
        report_unreadable (file_name, error);
      return FALSE;
    }
  ParseContext context = { locations, permanent_locations, file_name, trusted, NULL };
  return parse_configuration (document, context);
}

gboolean
backup_configurations_parse_conf_buffer (SfBackupLocations *locations,
                                         SfBackupLocations *permanent_locations,
                                         const gchar *buffer, gsize size, const gchar *file_name,
                                         gboolean trusted)
{
  g_return_val_if_fail (tables != NULL, FALSE);
  g_return_val_if_fail (locations != NULL, FALSE);
  g_return_val_if_fail (permanent_locations != NULL, FALSE);
  g_return_val_if_fail (buffer != NULL || size == 0, FALSE);
  g_return_val_if_fail (file_name != NULL, FALSE);

  g_autoptr (GError) error = NULL;
  xmlDoc *document = sf_xml_reader_parse (buffer, size, file_name, &error);
  if (document == NULL)
    {
      report_unreadable (file_name, error);
      return FALSE;
    }
  ParseContext context = { locations, permanent_locations, file_name, trusted, NULL };
  return parse_configuration (document, context);
}

GSList *
sf_backup_configurations_get_applications_in_category (SfCategory category)
{
  g_return_val_if_fail (tables != NULL, NULL);

  gint index = sf_category_to_index (category);
  if (index >= config_category_count)
    {
      SF_LOG_DEBUG ("sf_backup_configurations_get_applications_in_category(): Given category: %d "
                    "is invalid.",
                    category);
      return NULL;
    }
  return tables->category_applications[index];
}

GSList *
sf_backup_configurations_get_applications_in_categories (guint32 mask)
{
  g_return_val_if_fail (tables != NULL, NULL);

  GSList *found = NULL;
  for (gint index = 0; index < config_category_count; index++)
    {
      if (!(mask & sf_category_from_index (index)))
        continue;
      for (GSList *item = tables->category_applications[index]; item != NULL; item = item->next)
        if (g_slist_find_custom (found, item->data, (GCompareFunc)strcmp) == NULL)
          found = g_slist_prepend (found, g_strdup ((const gchar *)item->data));
    }
  return g_slist_reverse (found);
}

gint
sf_backup_configurations_get_backup_backup_method (const gchar *name, SfBackupMethod *method)
{
  g_return_val_if_fail (tables != NULL, -1);
  g_return_val_if_fail (method != NULL, -2);

  if (application_lookup_status ("sf_backup_configurations_get_backup_backup_method", name) < 0)
    return -1;
  const SfBackupMethod *found = (const SfBackupMethod *)g_tree_lookup (tables->methods, name);
  if (found == NULL)
    {
      SF_LOG_DEBUG ("sf_backup_configurations_get_backup_backup_method():  Could not ffidn backup "
                    "method.");
      return -2;
    }
  *method = *found;
  return 1;
}

gint
sf_backup_configurations_get_backup_dbus_info (const gchar *name, gboolean *has_dbus,
                                               SfBackupDbusInfo *info)
{
  g_return_val_if_fail (tables != NULL, -1);
  if (has_dbus == NULL || info == NULL)
    {
      SF_LOG_DEBUG ("sf_backup_configurations_get_backup_dbus_info(): Given output parameter is "
                    "NULL.");
      return -2;
    }
  if (application_lookup_status ("sf_backup_configurations_get_backup_dbus_info", name) < 0)
    return -1;
  const SfBackupDbusInfo *found
      = (const SfBackupDbusInfo *)g_tree_lookup (tables->dbus_infos, name);
  *has_dbus = found != NULL;
  if (found != NULL)
    *info = *found;
  return 1;
}

gint
sf_backup_configurations_get_backup_scripts_info (const gchar *name, gboolean *has_scripts,
                                                  SfBackupScriptsInfo *info)
{
  g_return_val_if_fail (tables != NULL, -1);
  if (has_scripts == NULL || info == NULL)
    {
      SF_LOG_DEBUG ("sf_backup_configurations_get_backup_scripts_info(): Given output parameter "
                    "is NULL.");
      return -2;
    }
  if (application_lookup_status ("sf_backup_configurations_get_backup_scripts_info", name) < 0)
    return -1;
  const SfBackupScriptsInfo *found
      = (const SfBackupScriptsInfo *)g_tree_lookup (tables->scripts_infos, name);
  *has_scripts = found != NULL;
  if (found != NULL)
    *info = *found;
  return 1;
}

void
_sf_backup_configurations_remove_applications (GSList *names)
{
  g_return_if_fail (tables != NULL);

  for (GSList *item = names; item != NULL; item = item->next)
    {
      const gchar *name = (const gchar *)item->data;
      gint removed = remove_locations_of (tables->locations, name);
      SF_LOG_DEBUG ("sf-backup-configurations: _sf_backup_configurations_remove_applications: "
                    "removed %d backup file locations of application: %s.",
                    removed, name);
      g_autofree gchar *copy = g_strdup (name);
      forget_application (copy);
      for (gint index = 0; index < config_category_count; index++)
        if (remove_from_category (index, copy))
          SF_LOG_DEBUG ("sf-backup-configurations: _sf_backup_configurations_remove_applications: "
                        "removed application: %s from category: %s.",
                        copy, sf_category_get_display_name (sf_category_from_index (index)));
    }
  /* An include that only a removed application's location covered stands on its own again. */
  _sf_backup_locations_remove_redundancies (tables->locations);
}

SfBackupLocations *
sf_backup_configurations_get_locations (void)
{
  return tables != NULL ? tables->locations : NULL;
}

SfBackupLocations *
sf_backup_configurations_get_permanent_locations (void)
{
  return tables != NULL ? tables->permanent_locations : NULL;
}

gboolean
sf_backup_configurations_test_applications_installed (void)
{
  return tables != NULL && tables->test_applications_installed;
}

GSList *
sf_backup_configurations_get_test_applications (void)
{
  return tables != NULL && tables->test_applications_installed ? tables->test_applications : NULL;
}

GSList *
sf_backup_configurations_get_additional_test_applications (void)
{
  return tables != NULL && tables->test_applications_installed
             ? tables->additional_test_applications
             : NULL;
}
