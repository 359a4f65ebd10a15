#include "dbus-mock.h"

#include <gtest/gtest.h>

namespace
{
const gint64 start_timeout_us = 10 * G_USEC_PER_SEC;

gboolean
name_has_owner (GDBusConnection *connection, const std::string &name)
{
  g_autoptr (GVariant) reply = g_dbus_connection_call_sync (
      connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "NameHasOwner", g_variant_new ("(s)", name.c_str ()), G_VARIANT_TYPE ("(b)"),
      G_DBUS_CALL_FLAGS_NONE, -1, NULL, NULL);
  gboolean owned = FALSE;
  if (reply != NULL)
    g_variant_get (reply, "(b)", &owned);
  return owned;
}
} // namespace

DBusMock::DBusMock (GBusType bus, const std::string &name, const std::string &path,
                    const std::string &interface)
    : DBusMock (bus, name, path, std::vector<std::string>{ name, path, interface })
{
}

DBusMock *
DBusMock::from_template (GBusType bus, const std::string &template_name, const std::string &name,
                         const std::string &path)
{
  return new DBusMock (bus, name, path, std::vector<std::string>{ "--template", template_name });
}

DBusMock::DBusMock (GBusType bus, const std::string &name, const std::string &path,
                    const std::vector<std::string> &arguments)
    : name_ (name), path_ (path)
{
  g_autoptr (GError) error = NULL;
  g_autofree gchar *address = g_dbus_address_get_for_bus_sync (bus, NULL, &error);
  if (address == NULL)
    {
      ADD_FAILURE () << "no bus address: " << error->message;
      return;
    }
  connection_ = g_dbus_connection_new_for_address_sync (
      address,
      (GDBusConnectionFlags)(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT
                             | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      NULL, NULL, &error);
  if (connection_ == NULL)
    {
      ADD_FAILURE () << "cannot connect to the test bus: " << error->message;
      return;
    }

  std::vector<const gchar *> argv = { "/usr/bin/python3", "-m", "dbusmock",
                                      bus == G_BUS_TYPE_SYSTEM ? "--system" : "--session" };
  for (const std::string &argument : arguments)
    argv.push_back (argument.c_str ());
  argv.push_back (NULL);
  process_ = g_subprocess_newv (argv.data (), G_SUBPROCESS_FLAGS_NONE, &error);
  if (process_ == NULL)
    {
      ADD_FAILURE () << "cannot start python3-dbusmock: " << error->message;
      return;
    }

  gint64 deadline = g_get_monotonic_time () + start_timeout_us;
  while (!name_has_owner (connection_, name_) && g_get_monotonic_time () < deadline)
    g_usleep (20 * 1000);
  if (!name_has_owner (connection_, name_))
    ADD_FAILURE () << "python3-dbusmock did not take " << name_;
}

DBusMock::~DBusMock ()
{
  if (process_ != NULL)
    {
      g_subprocess_force_exit (process_);
      g_subprocess_wait (process_, NULL, NULL);
      g_object_unref (process_);
    }
  if (connection_ != NULL)
    {
      g_dbus_connection_close_sync (connection_, NULL, NULL);
      g_object_unref (connection_);
    }
}

GVariant *
DBusMock::mock_call (const char *method, GVariant *parameters)
{
  g_autoptr (GError) error = NULL;
  GVariant *reply = g_dbus_connection_call_sync (connection_, name_.c_str (), path_.c_str (),
                                                 "org.freedesktop.DBus.Mock", method, parameters,
                                                 NULL, G_DBUS_CALL_FLAGS_NONE, 10000, NULL, &error);
  if (reply == NULL)
    ADD_FAILURE () << "dbusmock " << method << " failed: " << error->message;
  return reply;
}

void
DBusMock::add_method (const std::string &method, const std::string &in_signature,
                      const std::string &out_signature, const std::string &code)
{
  g_autoptr (GVariant) reply = mock_call (
      "AddMethod", g_variant_new ("(sssss)", "", method.c_str (), in_signature.c_str (),
                                  out_signature.c_str (), code.c_str ()));
}

void
DBusMock::emit_signal (const std::string &signal, const std::string &signature, GVariant *args)
{
  GVariantBuilder values;
  g_variant_builder_init (&values, G_VARIANT_TYPE ("av"));
  g_autoptr (GVariant) tuple = g_variant_ref_sink (args);
  for (gsize index = 0; index < g_variant_n_children (tuple); index++)
    {
      g_autoptr (GVariant) value = g_variant_get_child_value (tuple, index);
      g_variant_builder_add (&values, "v", value);
    }
  g_autoptr (GVariant) reply = mock_call (
      "EmitSignal", g_variant_new ("(sssav)", "", signal.c_str (), signature.c_str (), &values));
}

void
DBusMock::call_mock (const char *method, GVariant *args)
{
  g_autoptr (GVariant) reply = mock_call (method, args);
}

std::vector<DBusMock::Call>
DBusMock::calls ()
{
  std::vector<Call> result;
  g_autoptr (GVariant) reply = mock_call ("GetCalls", NULL);
  if (reply == NULL)
    return result;
  g_autoptr (GVariantIter) iter = NULL;
  g_variant_get (reply, "(a(tsav))", &iter);
  guint64 time;
  const gchar *method;
  GVariantIter *args;
  while (g_variant_iter_loop (iter, "(t&sav)", &time, &method, &args))
    {
      GVariantBuilder builder;
      g_variant_builder_init (&builder, G_VARIANT_TYPE_TUPLE);
      GVariant *arg;
      while (g_variant_iter_loop (args, "v", &arg))
        g_variant_builder_add_value (&builder, arg);
      g_autoptr (GVariant) tuple = g_variant_ref_sink (g_variant_builder_end (&builder));
      g_autofree gchar *text = g_variant_print (tuple, FALSE);
      result.push_back ({ method, text });
    }
  return result;
}

void
DBusMock::clear_calls ()
{
  g_autoptr (GVariant) reply = mock_call ("ClearCalls", NULL);
}

size_t
DBusMock::wait_for_calls (const std::string &method, size_t count)
{
  gint64 deadline = g_get_monotonic_time () + start_timeout_us;
  size_t seen = 0;
  do
    {
      seen = 0;
      for (const Call &call : calls ())
        seen += call.method == method;
      if (seen >= count)
        break;
      g_usleep (20 * 1000);
    }
  while (g_get_monotonic_time () < deadline);
  return seen;
}
