#include "sf-target-mount.h"

#include "sf-i18n.h"
#include "sf-log.h"

#define UNNAMED_CARD "mmc-undefined-name"
#define UNNAMED_INTERNAL_MEMORY "mmc-undefined-name-internal"

struct _SfTargetMount
{
  SfTarget parent_instance;
};

G_DEFINE_FINAL_TYPE (SfTargetMount, sf_target_mount, SF_TYPE_TARGET)

namespace
{
GVariant *
call_bluez (GDBusConnection *connection, const gchar *path, const gchar *interface,
            const gchar *method, const GVariantType *reply_type)
{
  g_autoptr (GError) error = NULL;
  GVariant *reply
      = g_dbus_connection_call_sync (connection, "org.bluez", path, interface, method, NULL,
                                     reply_type, G_DBUS_CALL_FLAGS_NONE, -1, NULL, &error);
  if (reply == NULL)
    SF_LOG_DEBUG ("Bluetooth %s failed: %s", method, error->message);
  return reply;
}

/* The device's Bluetooth name, which the user also knows the phone by; NULL when unknown. */
gchar *
get_bluetooth_name (void)
{
  g_autoptr (GDBusConnection) connection = g_bus_get_sync (G_BUS_TYPE_SYSTEM, NULL, NULL);
  if (connection == NULL)
    return NULL;
  g_autoptr (GVariant) adapter
      = call_bluez (connection, "/", "org.bluez.Manager", "DefaultAdapter", G_VARIANT_TYPE ("(o)"));
  if (adapter == NULL)
    return NULL;
  const gchar *adapter_path;
  g_variant_get (adapter, "(&o)", &adapter_path);
  g_autoptr (GVariant) properties = call_bluez (connection, adapter_path, "org.bluez.Adapter",
                                                "GetProperties", G_VARIANT_TYPE ("(a{sv})"));
  if (properties == NULL)
    return NULL;

  g_autoptr (GVariant) dictionary = g_variant_get_child_value (properties, 0);
  gchar *name = NULL;
  g_variant_lookup (dictionary, "Name", "s", &name);
  return name;
}

const gchar *
unnamed_display_name (void)
{
  return sf_i18n_translate ("back_fi_dia002_memorycard_external");
}

/* "MMC" and "mmc" both read "Mmc". */
gchar *
capitalise (const gchar *name)
{
  gchar *display_name = g_ascii_strdown (name, -1);
  display_name[0] = g_ascii_toupper (display_name[0]);
  return display_name;
}

gchar *
display_name_for (const gchar *mount_name)
{
  if (mount_name == NULL || mount_name[0] == '\0' || g_str_equal (mount_name, UNNAMED_CARD))
    return g_strdup (unnamed_display_name ());
  if (!g_str_equal (mount_name, UNNAMED_INTERNAL_MEMORY))
    return capitalise (mount_name);
  gchar *bluetooth_name = get_bluetooth_name ();
  if (bluetooth_name != NULL && bluetooth_name[0] != '\0')
    return bluetooth_name;
  g_free (bluetooth_name);
  return g_strdup (unnamed_display_name ());
}
} // namespace

static void
sf_target_mount_class_init (SfTargetMountClass *)
{
}

static void
sf_target_mount_init (SfTargetMount *)
{
}

SfTarget *
sf_target_mount_new (GMount *mount)
{
  g_return_val_if_fail (G_IS_MOUNT (mount), NULL);
  g_autoptr (GFile) root = g_mount_get_root (mount);
  g_autoptr (GError) error = NULL;
  g_autoptr (GFileInfo) info
      = g_file_query_filesystem_info (root, G_FILE_ATTRIBUTE_FILESYSTEM_READONLY, NULL, &error);
  g_autofree gchar *uri = g_file_get_uri (root);
  if (info == NULL)
    {
      SF_LOG_ERROR ("Could not query mount '%s': %s", uri, error->message);
      return NULL;
    }

  g_autofree gchar *mount_name = g_mount_get_name (mount);
  g_autofree gchar *display_name = display_name_for (mount_name);
  gboolean read_only
      = g_file_info_get_attribute_boolean (info, G_FILE_ATTRIBUTE_FILESYSTEM_READONLY);
  return SF_TARGET (g_object_new (SF_TYPE_TARGET_MOUNT, "uri", uri, "is-read-only", read_only,
                                  "is-persistent", FALSE, "is-available", TRUE, "display-name",
                                  display_name, NULL));
}
