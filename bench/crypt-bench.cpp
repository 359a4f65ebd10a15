/* Throughput of the encrypting and decrypting archive streams beside the openssl command on the
 * same file. Usage: crypt-bench [megabytes] [directory]. Prints the timings and the ratios of our
 * throughput to openssl's (1.0 = as fast). */
#include "gsf-input-crypt.h"
#include "gsf-output-crypt.h"

#include <gio/gio.h>
#include <glib/gstdio.h>

#include <cstdio>
#include <string>
#include <vector>

namespace
{
/* The piece size of the archiver's writes and reads. */
constexpr gsize piece_size = 64 * 1024;
constexpr gint rounds = 3;
constexpr const gchar *password = "benchmark password";
constexpr const gchar *key_hex = "000102030405060708090a0b0c0d0e0f";
constexpr const gchar *iv_hex = "0f0e0d0c0b0a09080706050403020100";

void
make_plain_file (const std::string &path, gsize megabytes)
{
  FILE *file = fopen (path.c_str (), "wb");
  g_assert (file != NULL);
  std::vector<guint32> buffer (1024 * 1024 / sizeof (guint32));
  for (gsize megabyte = 0; megabyte < megabytes; megabyte++)
    {
      for (guint32 &word : buffer)
        word = g_random_int ();
      g_assert (fwrite (buffer.data (), sizeof (guint32), buffer.size (), file) == buffer.size ());
    }
  fclose (file);
}

void
encrypt_with_streams (const std::string &plain, const std::string &encrypted)
{
  FILE *input = fopen (plain.c_str (), "rb");
  g_assert (input != NULL);
  GsfOutput *sink = gsf_output_stdio_new (encrypted.c_str (), NULL);
  GsfOutput *output = gsf_output_crypt_new (sink, password);
  std::vector<guint8> buffer (piece_size);
  gsize length = 0;
  while ((length = fread (buffer.data (), 1, buffer.size (), input)) > 0)
    g_assert (gsf_output_write (output, length, buffer.data ()));
  g_assert (gsf_output_close (output));
  g_object_unref (output);
  g_assert (gsf_output_close (sink));
  g_object_unref (sink);
  fclose (input);
}

void
decrypt_with_streams (const std::string &encrypted, const std::string &plain)
{
  GsfInput *source = gsf_input_stdio_new (encrypted.c_str (), NULL);
  g_assert (source != NULL);
  GsfInput *input = gsf_input_crypt_new (source, password, NULL);
  g_assert (input != NULL);
  FILE *output = fopen (plain.c_str (), "wb");
  std::vector<guint8> buffer (piece_size);
  for (gsf_off_t left = gsf_input_size (input); left > 0; left -= buffer.size ())
    {
      gsize length = MIN ((gsf_off_t)buffer.size (), left);
      g_assert (gsf_input_read (input, length, buffer.data ()) != NULL);
      g_assert (fwrite (buffer.data (), 1, length, output) == length);
    }
  fclose (output);
  g_object_unref (input);
  g_object_unref (source);
}

void
run_openssl (const gchar *direction, const std::string &from, const std::string &to)
{
  const gchar *argv[]
      = { "openssl", "enc", direction,     "-aes-128-cbc", "-K",        key_hex, "-iv",
          iv_hex,    "-in", from.c_str (), "-out",         to.c_str (), NULL };
  gint status = 0;
  g_assert (g_spawn_sync (NULL, (gchar **)argv, NULL, G_SPAWN_SEARCH_PATH, NULL, NULL, NULL, NULL,
                          &status, NULL));
  g_assert (g_spawn_check_wait_status (status, NULL));
}

/* The best of a few runs, in seconds. */
template <typename Work>
gdouble
best_time (Work work)
{
  gdouble best = G_MAXDOUBLE;
  for (gint round = 0; round < rounds; round++)
    {
      gint64 start = g_get_monotonic_time ();
      work ();
      best = MIN (best, (g_get_monotonic_time () - start) / 1e6);
    }
  return best;
}

void
report (const gchar *what, gsize megabytes, gdouble ours, gdouble openssl)
{
  printf ("%-8s streams %7.1f MB/s   openssl enc %7.1f MB/s   ratio %.2f\n", what, megabytes / ours,
          megabytes / openssl, openssl / ours);
}
} // namespace

int
main (int argc, char **argv)
{
  gsize megabytes = argc > 1 ? g_ascii_strtoull (argv[1], NULL, 10) : 200;
  g_autofree gchar *directory
      = argc > 2 ? g_strdup (argv[2]) : g_dir_make_tmp ("crypt-bench-XXXXXX", NULL);
  g_assert (directory != NULL && megabytes > 0);
  std::string base = directory;
  std::string plain = base + "/plain", ours = base + "/streams.enc", theirs = base + "/openssl.enc";
  std::string back = base + "/back";

  make_plain_file (plain, megabytes);
  gdouble encrypt_ours = best_time ([&] { encrypt_with_streams (plain, ours); });
  gdouble encrypt_openssl = best_time ([&] { run_openssl ("-e", plain, theirs); });
  gdouble decrypt_ours = best_time ([&] { decrypt_with_streams (ours, back); });
  gdouble decrypt_openssl = best_time ([&] { run_openssl ("-d", theirs, back); });

  printf ("%zu MB, pieces of %zu bytes, best of %d runs\n", megabytes, piece_size, rounds);
  report ("encrypt", megabytes, encrypt_ours, encrypt_openssl);
  report ("decrypt", megabytes, decrypt_ours, decrypt_openssl);

  for (const std::string &file : { plain, ours, theirs, back })
    g_remove (file.c_str ());
  if (argc <= 2)
    g_rmdir (directory);
  return 0;
}
