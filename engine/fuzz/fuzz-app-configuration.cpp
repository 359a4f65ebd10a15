/* An application configuration file as a third-party package or the system installs it: parsed
 * into fresh tables, trusted or not, then every query that walks what was read. */

#include "sf-backup-configurations.h"
#include "sf-backup-locations.h"

#include "fuzz-support.h"

extern "C" int
LLVMFuzzerInitialize (int *, char ***)
{
  fuzz_scratch_dir ();
  return 0;
}

extern "C" int
LLVMFuzzerTestOneInput (const uint8_t *data, size_t size)
{
  if (size < 1)
    return 0;
  gboolean trusted = (data[0] & 1) != 0;
  sf_backup_configurations_init_empty ();
  SfBackupLocations *locations = sf_backup_configurations_get_locations ();
  SfBackupLocations *permanent = sf_backup_configurations_get_permanent_locations ();
  backup_configurations_parse_conf_buffer (locations, permanent,
                                           reinterpret_cast<const gchar *> (data + 1), size - 1,
                                           "fuzzed.conf", trusted);
  _sf_backup_locations_remove_redundancies (locations);
  _sf_backup_locations_remove_redundancies (permanent);

  for (SfBackupLocations *table : { locations, permanent })
    for (gboolean exclusions : { (gboolean)FALSE, (gboolean)TRUE })
      {
        g_slist_free_full (sf_backup_locations_get_uris (table, SF_CATEGORY_ALL, exclusions),
                           g_free);
        g_slist_free_full (sf_backup_locations_get_uri_infos (table, SF_CATEGORY_ALL, exclusions),
                           (GDestroyNotify)sf_backup_uri_info_free);
      }
  GSList *names = sf_backup_configurations_get_applications_in_categories (SF_CATEGORY_ALL);
  for (GSList *link = names; link != NULL; link = link->next)
    {
      const gchar *name = static_cast<const gchar *> (link->data);
      SfBackupMethod method;
      sf_backup_configurations_get_backup_backup_method (name, &method);
      gboolean has = FALSE;
      SfBackupDbusInfo dbus;
      sf_backup_configurations_get_backup_dbus_info (name, &has, &dbus);
      SfBackupScriptsInfo scripts;
      sf_backup_configurations_get_backup_scripts_info (name, &has, &scripts);
    }
  g_slist_free_full (names, g_free);
  sf_backup_configurations_free ();
  return 0;
}
