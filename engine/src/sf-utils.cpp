#include "sf-utils.h"

#include "sf-log.h"

#include <gconf/gconf-client.h>
#include <gio/gio.h>
#include <unistd.h>

namespace
{
const gchar *const software_version_file = "/usr/share/vesta_software_version";
const gchar *const default_install_home = "/var/lib/install";

/* A connection of its own for each rare call, so that a bus appearing or going away later is
 * seen, and nothing is kept open between calls. */
GDBusConnection *
open_system_bus (void)
{
  g_autofree gchar *address = g_dbus_address_get_for_bus_sync (G_BUS_TYPE_SYSTEM, NULL, NULL);
  GDBusConnection *connection = NULL;
  if (address != NULL)
    connection = g_dbus_connection_new_for_address_sync (
        address,
        (GDBusConnectionFlags)(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT
                               | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        NULL, NULL, NULL);
  if (connection == NULL)
    SF_LOG_ERROR ("Could not get system bus.");
  return connection;
}

void
close_bus (GDBusConnection *connection)
{
  g_dbus_connection_close_sync (connection, NULL, NULL);
  g_object_unref (connection);
}

gboolean
name_has_owner (GDBusConnection *connection, const gchar *name)
{
  g_autoptr (GVariant) reply = g_dbus_connection_call_sync (
      connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "NameHasOwner", g_variant_new ("(s)", name), G_VARIANT_TYPE ("(b)"), G_DBUS_CALL_FLAGS_NONE,
      -1, NULL, NULL);
  gboolean owned = FALSE;
  if (reply != NULL)
    g_variant_get (reply, "(b)", &owned);
  return owned;
}

gboolean
reboot_switched_off (void)
{
  return g_getenv ("SF_DEBUG") != NULL || g_getenv ("SF_NO_REBOOT") != NULL;
}
} // namespace

void
sf_utils_reboot (void)
{
  if (reboot_switched_off ())
    return;

  SF_LOG_DEBUG ("Final sync before reboot... ");
  sync ();
  sync ();
  sync ();
  SF_LOG_DEBUG ("done\n");

  GDBusConnection *connection = open_system_bus ();
  if (connection == NULL)
    return;
  SF_LOG_DEBUG ("Sending reboot.");
  g_autoptr (GDBusMessage) message = g_dbus_message_new_method_call (
      "com.korvel.vigil", "/com/korvel/vigil/request", "com.korvel.vigil.request", "req_reboot");
  g_dbus_message_set_flags (message, G_DBUS_MESSAGE_FLAGS_NO_REPLY_EXPECTED);
  g_dbus_connection_send_message (connection, message, G_DBUS_SEND_MESSAGE_FLAGS_NONE, NULL, NULL);
  g_dbus_connection_flush_sync (connection, NULL, NULL);
  close_bus (connection);
  SF_LOG_DEBUG ("Sent, quit the application.");
}

void
sf_utils_suggest_gconf_sync (void)
{
  GDBusConnection *connection = open_system_bus ();
  if (connection == NULL)
    return;
  gboolean running = name_has_owner (connection, "org.gnome.GConf");
  close_bus (connection);
  if (!running)
    {
      SF_LOG_DEBUG ("GConf not running? Couldn't suggest sync");
      return;
    }

  SF_LOG_DEBUG ("Suggesting gconf sync");
  GConfClient *client = gconf_client_get_default ();
  g_autoptr (GError) error = NULL;
  gconf_client_suggest_sync (client, &error);
  if (error != NULL)
    SF_LOG_ERROR ("GConf sync failed: %s", error->message);
  g_object_unref (client);
}

void
sf_utils_shutdown_gconfd (void)
{
  SF_LOG_DEBUG ("Shutting down gconfd");
  SF_LOG_DEBUG ("*********** GCONF KILLING DISABLED *****************");
  SF_LOG_DEBUG ("*********** GCONF KILLING ENABLE LATER IF NEEDED *****************");
}

namespace
{
gchar *
expand_path (const gchar *text, gboolean report)
{
  if (text == NULL)
    return NULL;

  g_autofree gchar *path = g_strstrip (g_strdup (text));
  const gchar *rest = path;
  const gchar *home = NULL;
  if (g_str_has_prefix (path, "$HOME"))
    {
      rest = path + strlen ("$HOME");
      if (rest[0] != '/')
        {
          if (report)
            SF_LOG_WARNING ("Path after $HOME must be absolute (%s).", text);
          return NULL;
        }
      home = g_get_home_dir ();
    }
  else if (rest[0] != '/')
    {
      if (report)
        SF_LOG_WARNING ("Path must be absolute (%s).", text);
      return NULL;
    }

  gsize length = strlen (rest);
  g_autofree gchar *trimmed
      = g_strndup (rest, length > 0 && rest[length - 1] == '/' ? length - 1 : length);
  return home != NULL ? g_strconcat (home, trimmed, NULL) : g_steal_pointer (&trimmed);
}
} // namespace

gchar *
sf_utils_expand_path (const gchar *text)
{
  return expand_path (text, TRUE);
}

gchar *
sf_utils_expand_path_silently (const gchar *text)
{
  return expand_path (text, FALSE);
}

const gchar *
sf_utils_get_software_version (void)
{
  static gchar *software_version;
  if (software_version == NULL)
    {
      gchar *contents = NULL;
      if (!g_file_get_contents (software_version_file, &contents, NULL, NULL))
        contents = g_strdup ("");
      software_version = g_strstrip (contents);
    }
  return software_version;
}

gchar *
sf_utils_get_install_home (void)
{
  const gchar *install_home = g_getenv ("INSTALLHOME");
  return g_strdup (install_home != NULL ? install_home : default_install_home);
}
