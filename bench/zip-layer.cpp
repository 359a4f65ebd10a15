/* Throughput of the ZIP container layer alone: packs generated data from memory into a file and
 * reads it back. With a directory argument it also writes the same data as plain files below it,
 * for comparison with zip -r -6 and unzip. */
#include "sf-zip-reader.h"
#include "sf-zip-writer.h"

#include <gio/gio.h>
#include <glib/gstdio.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-output-stdio.h>

#include <cstdio>
#include <string>
#include <vector>

namespace
{
struct File
{
  std::string name;
  std::string data;
};

/* Text-like data (compresses to about a third) or random bytes (does not compress). */
std::string
generate (GRand *rand, gsize size, bool text)
{
  static const char *const words[]
      = { "contact",  "message",  "the",   "alarm", "of", "calendar", "2026-12-06",
          "<entry>",  "</entry>", "name=", "\n",    "id", "bookmark", "http://example.org/",
          "settings", "42" };
  std::string data;
  data.reserve (size + 32);
  while (data.size () < size)
    {
      if (text)
        data.append (words[g_rand_int_range (rand, 0, G_N_ELEMENTS (words))]).append (" ");
      else
        for (int i = 0; i < 16; i++)
          data.push_back (static_cast<char> (g_rand_int (rand)));
    }
  data.resize (size);
  return data;
}

std::vector<File>
small_files (GRand *rand)
{
  std::vector<File> files;
  for (int i = 0; i < 20000; i++)
    {
      gchar *name = g_strdup_printf ("Root/home/user/.app%d/notes/note-%05d.txt", i / 500, i);
      files.push_back ({ name, generate (rand, g_rand_int_range (rand, 100, 4000), i % 5 != 0) });
      g_free (name);
    }
  return files;
}

std::vector<File>
mixed_files (GRand *rand)
{
  std::vector<File> files;
  for (int i = 0; i < 20; i++)
    {
      gchar *name = g_strdup_printf ("Root/home/user/MyDocs/file-%02d.bin", i);
      files.push_back ({ name, generate (rand, 5 * 1024 * 1024, i % 2 == 0) });
      g_free (name);
    }
  return files;
}

gsize
total_size (const std::vector<File> &files)
{
  gsize total = 0;
  for (const File &file : files)
    total += file.data.size ();
  return total;
}

bool
pack (const std::vector<File> &files, const std::string &path)
{
  g_autoptr (GError) error = NULL;
  GsfOutput *sink = gsf_output_stdio_new (path.c_str (), &error);
  SfZipWriter *writer = sink != NULL ? sf_zip_writer_new (sink, &error) : NULL;
  bool ok = writer != NULL;
  constexpr gsize CHUNK = 64 * 1024;
  for (gsize i = 0; ok && i < files.size (); i++)
    {
      const std::string &data = files[i].data;
      ok = sf_zip_writer_begin_file (writer, files[i].name.c_str (), 0644, 1700000000, data.size (),
                                     &error);
      for (gsize offset = 0; ok && offset < data.size (); offset += CHUNK)
        ok = sf_zip_writer_write (writer, data.data () + offset, MIN (CHUNK, data.size () - offset),
                                  &error);
      ok = ok && sf_zip_writer_end_file (writer, &error);
    }
  ok = ok && sf_zip_writer_close (writer, &error) && gsf_output_close (sink);
  if (!ok)
    fprintf (stderr, "pack: %s\n", error != NULL ? error->message : "sink failed");
  if (writer != NULL)
    sf_zip_writer_free (writer);
  if (sink != NULL)
    g_object_unref (sink);
  return ok;
}

bool
unpack (const std::string &path, gsize *bytes)
{
  g_autoptr (GError) error = NULL;
  GsfInput *source = gsf_input_stdio_new (path.c_str (), &error);
  SfZipReader *reader = source != NULL ? sf_zip_reader_new (source, &error) : NULL;
  bool ok = reader != NULL;
  std::vector<char> buffer (64 * 1024);
  SfZipEntry entry;
  *bytes = 0;
  while (ok && sf_zip_reader_next_entry (reader, &entry, &error))
    {
      gssize got;
      while ((got = sf_zip_reader_read (reader, buffer.data (), buffer.size (), &error)) > 0)
        *bytes += got;
      ok = got == 0;
    }
  ok = ok && error == NULL;
  if (!ok)
    fprintf (stderr, "unpack: %s\n", error->message);
  if (reader != NULL)
    sf_zip_reader_free (reader);
  if (source != NULL)
    g_object_unref (source);
  return ok;
}

void
write_tree (const std::vector<File> &files, const std::string &root)
{
  for (const File &file : files)
    {
      std::string path = root + "/" + file.name;
      g_autofree gchar *parent = g_path_get_dirname (path.c_str ());
      g_mkdir_with_parents (parent, 0755);
      g_file_set_contents (path.c_str (), file.data.data (), file.data.size (), NULL);
    }
}

bool
measure (const char *label, const std::vector<File> &files, const std::string &dir)
{
  std::string path = dir + "/" + label + ".zip";
  double megabytes = total_size (files) / 1e6;
  g_autoptr (GTimer) timer = g_timer_new ();
  if (!pack (files, path))
    return false;
  double packed = g_timer_elapsed (timer, NULL);
  g_timer_start (timer);
  gsize bytes = 0;
  if (!unpack (path, &bytes) || bytes != total_size (files))
    return false;
  double unpacked = g_timer_elapsed (timer, NULL);
  GStatBuf info;
  g_stat (path.c_str (), &info);
  printf ("%-6s %6zu files %7.1f MB -> %7.1f MB  pack %6.2f s %7.1f MB/s  unpack %6.2f s %7.1f "
          "MB/s\n",
          label, files.size (), megabytes, info.st_size / 1e6, packed, megabytes / packed, unpacked,
          megabytes / unpacked);
  return true;
}
} // namespace

int
main (int argc, char **argv)
{
  g_autoptr (GRand) rand = g_rand_new_with_seed (6);
  std::vector<File> small = small_files (rand);
  std::vector<File> mixed = mixed_files (rand);
  g_autofree gchar *dir = g_dir_make_tmp ("zip-layer-XXXXXX", NULL);
  if (dir == NULL)
    return 1;
  bool ok = measure ("small", small, dir) && measure ("mixed", mixed, dir);
  g_remove ((std::string (dir) + "/small.zip").c_str ());
  g_remove ((std::string (dir) + "/mixed.zip").c_str ());
  g_rmdir (dir);
  if (argc > 1)
    {
      write_tree (small, std::string (argv[1]) + "/small");
      write_tree (mixed, std::string (argv[1]) + "/mixed");
    }
  return ok ? 0 : 1;
}
