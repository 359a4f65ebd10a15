#pragma once

/* Shared by the fuzz targets: a private scratch directory, and inputs written into it as the
 * files the engine reads. */

#include <glib.h>
#include <glib/gstdio.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

/* A directory of this process's own, removed at exit. The first call also points HOME at it, so
 * call it before anything reads HOME. */
inline std::string
fuzz_scratch_dir ()
{
  /* Never freed: the exit handler still needs it after static objects are gone. */
  static const gchar *dir = [] {
    gchar *made = g_dir_make_tmp ("safehold-fuzz-XXXXXX", NULL);
    if (made == NULL)
      abort ();
    g_setenv ("HOME", made, TRUE);
    std::atexit (+[] {
      g_autofree gchar *quoted = g_shell_quote (dir);
      g_autofree gchar *command = g_strdup_printf ("rm -rf %s", quoted);
      if (system (command) != 0)
        return;
    });
    return made;
  }();
  return dir;
}

/* Replaces the file at path with data, without the flush of a safe replace (thousands of runs a
 * second); aborts when it cannot, since every later run would test nothing. */
inline void
fuzz_write_file (const std::string &path, const uint8_t *data, size_t size)
{
  g_autofree gchar *dir = g_path_get_dirname (path.c_str ());
  g_mkdir_with_parents (dir, 0700);
  FILE *file = fopen (path.c_str (), "wb");
  if (file == NULL)
    abort ();
  bool written = fwrite (data, 1, size, file) == size;
  if (fclose (file) != 0 || !written)
    abort ();
}
