#pragma once

/* Shared by the target tests: backups made on disk by hand, and waiting on the main loop. */

#include <gio/gio.h>
#include <glib/gstdio.h>

#include <functional>
#include <string>

/* A backup directory below location with a metadata file as the engine writes it. */
inline std::string
make_backup_on_disk (const std::string &location, const std::string &name, long timestamp)
{
  std::string directory = location + "/" + name;
  g_mkdir_with_parents (directory.c_str (), 0700);
  g_autofree gchar *metadata = g_strdup_printf (
      "<backup-metadata>\n  <format>2</format>\n  <size>10</size>\n"
      "  <number-of-files>1</number-of-files>\n  <timestamp>%ld</timestamp>\n"
      "  <time_for_restoration>0</time_for_restoration>  <protected>false</protected>\n"
      "  <device-version>1.0</device-version>\n  <notes></notes>\n  <categories>\n"
      "    <contacts>\n      <size>10</size>\n      <number-of-files>1</number-of-files>\n"
      "    </contacts>\n  </categories>\n</backup-metadata>\n",
      timestamp);
  std::string path = directory + "/backup.metadata";
  g_file_set_contents (path.c_str (), metadata, -1, NULL);
  return directory;
}

/* Runs the default main context until done() holds or timeout_ms passed; the last done(). */
inline bool
run_until (const std::function<bool ()> &done, gint timeout_ms = 10000)
{
  gint64 deadline = g_get_monotonic_time () + timeout_ms * (gint64)1000;
  while (!done () && g_get_monotonic_time () < deadline)
    if (!g_main_context_iteration (NULL, FALSE))
      g_usleep (10 * 1000);
  return done ();
}

/* Runs the default main context for a while, to see that nothing arrives. */
inline void
run_for (gint milliseconds)
{
  run_until ([] { return false; }, milliseconds);
}

inline std::string
make_temp_dir (const char *pattern)
{
  g_autofree gchar *path = g_dir_make_tmp (pattern, NULL);
  return path != NULL ? path : "";
}

inline std::string
uri_of (const std::string &path)
{
  g_autofree gchar *uri = g_filename_to_uri (path.c_str (), NULL, NULL);
  return uri;
}
