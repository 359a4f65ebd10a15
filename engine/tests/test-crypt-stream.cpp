#include "gsf-input-crypt.h"
#include "gsf-output-crypt.h"
#include "sf-crypt.h"

#include <gsf/gsf-output-impl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace
{
using Bytes = std::vector<guint8>;

/* SHA-1 of "abc" is a9993e36 47 06816aba 3e 25717850 c2 6c9cd0d8 9d. */
constexpr const gchar *abc_key_hex = "a9993e3606816aba257178506c9cd0d8";

Bytes
random_bytes (gsize length)
{
  Bytes bytes (length);
  for (guint8 &byte : bytes)
    byte = (guint8)g_random_int_range (0, 256);
  return bytes;
}

std::string
hex (const guint8 *bytes, gsize length)
{
  std::string text;
  for (gsize index = 0; index < length; index++)
    {
      g_autofree gchar *pair = g_strdup_printf ("%02x", bytes[index]);
      text += pair;
    }
  return text;
}

Bytes
read_file (const std::string &path)
{
  gchar *contents = NULL;
  gsize length = 0;
  EXPECT_TRUE (g_file_get_contents (path.c_str (), &contents, &length, NULL)) << path;
  Bytes bytes (contents, contents + length);
  g_free (contents);
  return bytes;
}

void
write_file (const std::string &path, const Bytes &bytes)
{
  ASSERT_TRUE (
      g_file_set_contents (path.c_str (), (const gchar *)bytes.data (), bytes.size (), NULL));
}

/* The plain data followed by its padding characters, as the format defines them. */
Bytes
padded (Bytes plain)
{
  gsize count = 16 - plain.size () % 16;
  const gchar *characters = "0123456789ABCDEFG";
  plain.insert (plain.end (), count, (guint8)characters[count]);
  return plain;
}

/* Runs the openssl command with the given arguments and expects it to succeed. */
void
run_openssl (const std::vector<std::string> &arguments)
{
  std::vector<gchar *> argv = { (gchar *)"openssl" };
  for (const std::string &argument : arguments)
    argv.push_back ((gchar *)argument.c_str ());
  argv.push_back (NULL);
  gint status = 0;
  g_autofree gchar *error_output = NULL;
  g_autoptr (GError) error = NULL;
  ASSERT_TRUE (g_spawn_sync (NULL, argv.data (), NULL, G_SPAWN_SEARCH_PATH, NULL, NULL, NULL,
                             &error_output, &status, &error))
      << error->message;
  ASSERT_TRUE (g_spawn_check_wait_status (status, NULL)) << error_output;
}

/* An output that fails every write after the first allowed_writes. */
struct FailingOutput
{
  GsfOutput parent;
  gint allowed_writes;
  gint attempts;
};
struct FailingOutputClass
{
  GsfOutputClass parent_class;
};
G_DEFINE_TYPE (FailingOutput, failing_output, GSF_OUTPUT_TYPE)

gboolean
failing_output_write (GsfOutput *output, size_t, const guint8 *)
{
  FailingOutput *self = (FailingOutput *)output;
  self->attempts++;
  return self->allowed_writes-- > 0;
}

gboolean
failing_output_close (GsfOutput *)
{
  return TRUE;
}

void
failing_output_class_init (FailingOutputClass *klass)
{
  GSF_OUTPUT_CLASS (klass)->Write = failing_output_write;
  GSF_OUTPUT_CLASS (klass)->Close = failing_output_close;
}

void
failing_output_init (FailingOutput *)
{
}

class CryptStream : public testing::Test
{
protected:
  void SetUp () override
  {
    gchar *path = g_dir_make_tmp ("crypt-XXXXXX", NULL);
    ASSERT_NE (path, nullptr);
    directory_ = path;
    g_free (path);
  }

  void TearDown () override
  {
    std::filesystem::remove_all (directory_);
  }

  std::string path (const std::string &name) const
  {
    return directory_ + "/" + name;
  }

  /* Writes plain through an encrypting output into a file, in pieces of the given sizes (the
   * last size repeats until all is written). */
  void encrypt_to_file (const std::string &file, const gchar *password, const Bytes &plain,
                        std::vector<gsize> pieces = { 1 << 20 })
  {
    GsfOutput *sink = gsf_output_stdio_new (file.c_str (), NULL);
    ASSERT_NE (sink, nullptr);
    GsfOutput *output = gsf_output_crypt_new (sink, password);
    ASSERT_NE (output, nullptr);
    gsize written = 0;
    for (gsize piece = 0; written < plain.size (); piece = MIN (piece + 1, pieces.size () - 1))
      {
        gsize length = MIN (pieces[piece], plain.size () - written);
        ASSERT_TRUE (gsf_output_write (output, length, plain.data () + written));
        written += length;
      }
    EXPECT_EQ (gsf_output_size (output), (gsf_off_t)plain.size ());
    ASSERT_TRUE (gsf_output_close (output));
    g_object_unref (output);
    ASSERT_TRUE (gsf_output_close (sink));
    g_object_unref (sink);
  }

  /* Decrypts a file with the openssl command, key of "abc", the IV taken from the file. */
  Bytes openssl_decrypt (const std::string &file)
  {
    Bytes encrypted = read_file (file);
    EXPECT_GE (encrypted.size (), 32u);
    Bytes body (encrypted.begin () + 16, encrypted.end ());
    write_file (path ("body"), body);
    run_openssl ({ "enc", "-d", "-aes-128-cbc", "-nopad", "-K", abc_key_hex, "-iv",
                   hex (encrypted.data (), 16), "-in", path ("body"), "-out", path ("plain") });
    return read_file (path ("plain"));
  }

  /* Encrypts the padded plain data with the openssl command into an IV-prefixed file. */
  void openssl_encrypt (const std::string &file, const Bytes &padded_plain)
  {
    Bytes iv = random_bytes (16);
    write_file (path ("padded"), padded_plain);
    run_openssl ({ "enc", "-e", "-aes-128-cbc", "-nopad", "-K", abc_key_hex, "-iv",
                   hex (iv.data (), 16), "-in", path ("padded"), "-out", path ("body") });
    Bytes encrypted = iv;
    Bytes body = read_file (path ("body"));
    encrypted.insert (encrypted.end (), body.begin (), body.end ());
    write_file (file, encrypted);
  }

  GsfInput *open_decrypting (const std::string &file, const gchar *password, GError **error = NULL)
  {
    GsfInput *source = gsf_input_stdio_new (file.c_str (), NULL);
    EXPECT_NE (source, nullptr);
    GsfInput *input = gsf_input_crypt_new (source, password, error);
    g_object_unref (source);
    return input;
  }

  Bytes read_all (GsfInput *input)
  {
    gsf_off_t size = gsf_input_size (input);
    Bytes bytes (size);
    EXPECT_FALSE (gsf_input_seek (input, 0, G_SEEK_SET));
    if (size > 0)
      {
        EXPECT_NE (gsf_input_read (input, size, bytes.data ()), nullptr);
      }
    return bytes;
  }

  std::string directory_;
};

TEST_F (CryptStream, KeyIsTheSha1DigestWithoutEveryFifthByte)
{
  g_autofree guint8 *key = sf_crypt_derive_key ("abc");
  EXPECT_EQ (hex (key, 16), abc_key_hex);
}

TEST_F (CryptStream, BlockOperationsChainAcrossCalls)
{
  g_autofree guint8 *key = sf_crypt_derive_key ("abc");
  g_autoptr (EVP_CIPHER_CTX) encrypt = sf_crypt_schedule_new (key, TRUE);
  g_autoptr (EVP_CIPHER_CTX) decrypt = sf_crypt_schedule_new (key, FALSE);
  Bytes plain = random_bytes (96);
  g_autofree guint8 *start = sf_crypt_random_iv ();

  Bytes whole = plain;
  guint8 iv[16];
  memcpy (iv, start, 16);
  sf_crypt_cbc_encrypt (encrypt, iv, whole.data (), whole.size ());
  EXPECT_EQ (Bytes (iv, iv + 16), Bytes (whole.end () - 16, whole.end ()));

  Bytes split = plain;
  memcpy (iv, start, 16);
  sf_crypt_cbc_encrypt (encrypt, iv, split.data (), 32);
  sf_crypt_cbc_encrypt (encrypt, iv, split.data () + 32, 64);
  EXPECT_EQ (split, whole);

  memcpy (iv, start, 16);
  sf_crypt_cbc_decrypt (decrypt, iv, split.data (), 48);
  sf_crypt_cbc_decrypt (decrypt, iv, split.data () + 48, 48);
  EXPECT_EQ (split, plain);
  EXPECT_EQ (Bytes (iv, iv + 16), Bytes (whole.end () - 16, whole.end ()));
}

TEST_F (CryptStream, KnownLengthsDecryptWithOpensslToDataAndPadding)
{
  for (gsize length : { 0, 15, 16 })
    {
      SCOPED_TRACE (length);
      Bytes plain = random_bytes (length);
      encrypt_to_file (path ("known"), "abc", plain);
      Bytes encrypted = read_file (path ("known"));
      EXPECT_EQ (encrypted.size (), length == 16 ? 48u : 32u);
      EXPECT_EQ (openssl_decrypt (path ("known")), padded (plain));
    }
  EXPECT_EQ (padded ({}), Bytes (16, 'G'));
}

TEST_F (CryptStream, OpensslDecryptsDataWrittenInUnevenPieces)
{
  /* Crosses the output's internal chunk size, with pending bytes at most boundaries. */
  Bytes plain = random_bytes (700 * 1024 + 5);
  encrypt_to_file (path ("first"), "abc", plain, { 1, 7, 15, 16, 17, 4093, 300000, 33 });
  EXPECT_EQ (openssl_decrypt (path ("first")), padded (plain));

  encrypt_to_file (path ("second"), "abc", plain);
  Bytes first = read_file (path ("first"));
  Bytes second = read_file (path ("second"));
  EXPECT_NE (Bytes (first.begin (), first.begin () + 16),
             Bytes (second.begin (), second.begin () + 16));
  EXPECT_EQ (openssl_decrypt (path ("second")), padded (plain));
}

TEST_F (CryptStream, ReadsWhatOpensslEncrypted)
{
  for (gsize length : { 0, 1, 15, 16, 17, 1000 })
    {
      SCOPED_TRACE (length);
      Bytes plain = random_bytes (length);
      openssl_encrypt (path ("foreign"), padded (plain));
      GsfInput *input = open_decrypting (path ("foreign"), "abc");
      ASSERT_NE (input, nullptr);
      EXPECT_EQ (gsf_input_size (input), (gsf_off_t)length);
      EXPECT_EQ (read_all (input), plain);
      g_object_unref (input);
    }
}

TEST_F (CryptStream, EveryRangeReadsBack)
{
  Bytes plain = random_bytes (300);
  encrypt_to_file (path ("ranges"), "abc", plain, { 5, 11, 64 });
  GsfInput *input = open_decrypting (path ("ranges"), "abc");
  ASSERT_NE (input, nullptr);
  ASSERT_EQ (gsf_input_size (input), 300);

  for (gsize position = 0; position < plain.size (); position++)
    for (gsize length = 1; position + length <= plain.size (); length++)
      {
        ASSERT_FALSE (gsf_input_seek (input, position, G_SEEK_SET));
        Bytes expected (plain.begin () + position, plain.begin () + position + length);
        const guint8 *scratch = gsf_input_read (input, length, NULL);
        ASSERT_NE (scratch, nullptr) << position << " " << length;
        ASSERT_EQ (Bytes (scratch, scratch + length), expected) << position << " " << length;
        Bytes buffer (length);
        ASSERT_FALSE (gsf_input_seek (input, position, G_SEEK_SET));
        ASSERT_NE (gsf_input_read (input, length, buffer.data ()), nullptr);
        ASSERT_EQ (buffer, expected) << position << " " << length;
      }

  /* Pieces in a row, as an archive reader takes them, whatever their alignment. */
  for (gsize piece = 1; piece <= 48; piece++)
    {
      ASSERT_FALSE (gsf_input_seek (input, 0, G_SEEK_SET));
      Bytes pieces;
      for (gsize left = plain.size (); left > 0; left -= MIN (piece, left))
        {
          const guint8 *read = gsf_input_read (input, MIN (piece, left), NULL);
          ASSERT_NE (read, nullptr) << piece << " " << left;
          pieces.insert (pieces.end (), read, read + MIN (piece, left));
        }
      ASSERT_EQ (pieces, plain) << piece;
    }

  /* Nothing past the end, and the stream still reads afterwards. */
  ASSERT_FALSE (gsf_input_seek (input, 290, G_SEEK_SET));
  EXPECT_EQ (gsf_input_read (input, 11, NULL), nullptr);
  const guint8 *last = gsf_input_read (input, 10, NULL);
  ASSERT_NE (last, nullptr);
  EXPECT_EQ (Bytes (last, last + 10), Bytes (plain.end () - 10, plain.end ()));

  ASSERT_FALSE (gsf_input_seek (input, 14, G_SEEK_SET));
  g_autoptr (GError) error = NULL;
  GsfInput *copy = gsf_input_dup (input, &error);
  ASSERT_NE (copy, nullptr);
  const guint8 *copied = gsf_input_read (copy, 5, NULL);
  ASSERT_NE (copied, nullptr);
  EXPECT_EQ (Bytes (copied, copied + 5), Bytes (plain.begin () + 14, plain.begin () + 19));
  g_object_unref (copy);
  g_object_unref (input);
}

TEST_F (CryptStream, WrongPasswordsAreMostlyRefusedAtOpen)
{
  encrypt_to_file (path ("locked"), "abc", random_bytes (1000));
  gint refused = 0;
  for (gint attempt = 0; attempt < 200; attempt++)
    {
      g_autofree gchar *password = g_strdup_printf ("wrong %d", attempt);
      GsfInput *input = open_decrypting (path ("locked"), password);
      refused += input == NULL;
      if (input != NULL)
        g_object_unref (input);
    }
  /* A wrong key leaves padding as the writer makes it about once in 256 tries. */
  EXPECT_GE (refused, 195);
}

TEST_F (CryptStream, DamagedFilesAreInvalid)
{
  Bytes plain = random_bytes (100);
  encrypt_to_file (path ("good"), "abc", plain);
  Bytes good = read_file (path ("good"));

  Bytes bad_padding = plain;
  bad_padding.insert (bad_padding.end (), 12, 'Z');
  openssl_encrypt (path ("bad-padding"), bad_padding);
  /* "H" claims 17 padding bytes, more than a single block holds; "0" names none, which the
   * writer never makes. */
  openssl_encrypt (path ("overlong-padding"), Bytes (16, 'H'));
  Bytes zero_padding = plain;
  zero_padding.insert (zero_padding.end (), 12, '0');
  openssl_encrypt (path ("zero-padding"), zero_padding);
  /* The last byte names twelve padding bytes, but the first of them differs. */
  Bytes mixed_padding = plain;
  mixed_padding.push_back ('B');
  mixed_padding.insert (mixed_padding.end (), 11, 'C');
  openssl_encrypt (path ("mixed-padding"), mixed_padding);
  write_file (path ("short"), Bytes (good.begin (), good.begin () + 31));
  write_file (path ("truncated"), Bytes (good.begin (), good.end () - 5));

  for (const gchar *name :
       { "bad-padding", "overlong-padding", "zero-padding", "mixed-padding", "short", "truncated" })
    {
      SCOPED_TRACE (name);
      GsfInput *source = gsf_input_stdio_new (path (name).c_str (), NULL);
      ASSERT_NE (source, nullptr);
      ASSERT_FALSE (gsf_input_seek (source, 7, G_SEEK_SET));
      g_autoptr (GError) error = NULL;
      EXPECT_EQ (gsf_input_crypt_new (source, "abc", &error), nullptr);
      ASSERT_NE (error, nullptr);
      EXPECT_EQ (error->domain, gsf_input_error_id ());
      EXPECT_EQ (error->code, 0);
      EXPECT_STREQ (error->message, "Crypted file invalid");
      EXPECT_EQ (gsf_input_tell (source), 7);
      g_object_unref (source);
    }
}

TEST_F (CryptStream, WithoutPasswordBothStreamsAreTransparent)
{
  Bytes plain = random_bytes (1000);
  encrypt_to_file (path ("plain"), NULL, plain, { 3, 500 });
  EXPECT_EQ (read_file (path ("plain")), plain);

  GsfInput *input = open_decrypting (path ("plain"), NULL);
  ASSERT_NE (input, nullptr);
  EXPECT_EQ (read_all (input), plain);
  ASSERT_FALSE (gsf_input_seek (input, -10, G_SEEK_END));
  const guint8 *tail = gsf_input_read (input, 10, NULL);
  ASSERT_NE (tail, nullptr);
  EXPECT_EQ (Bytes (tail, tail + 10), Bytes (plain.end () - 10, plain.end ()));
  g_object_unref (input);

  GsfOutput *sink = gsf_output_memory_new ();
  GsfOutput *output = gsf_output_crypt_new (sink, NULL);
  ASSERT_TRUE (gsf_output_write (output, 10, plain.data ()));
  EXPECT_TRUE (gsf_output_seek (output, 2, G_SEEK_SET));
  ASSERT_TRUE (gsf_output_write (output, 1, plain.data () + 500));
  ASSERT_TRUE (gsf_output_close (output));
  EXPECT_EQ (gsf_output_size (sink), 10);
  EXPECT_EQ (gsf_output_memory_get_bytes (GSF_OUTPUT_MEMORY (sink))[2], plain[500]);
  g_object_unref (output);
  g_object_unref (sink);
}

TEST_F (CryptStream, EncryptingOutputHoldsBackAtMostOneBlockAndCannotSeek)
{
  GsfOutput *sink = gsf_output_memory_new ();
  GsfOutput *output = gsf_output_crypt_new (sink, "abc");
  ASSERT_NE (output, nullptr);
  EXPECT_EQ (gsf_output_size (sink), 16);
  Bytes plain = random_bytes (40);
  for (gsize written = 1; written <= plain.size (); written++)
    {
      ASSERT_TRUE (gsf_output_write (output, 1, &plain[written - 1]));
      ASSERT_EQ (gsf_output_size (sink), (gsf_off_t)(16 + written / 16 * 16)) << written;
    }
  EXPECT_FALSE (gsf_output_seek (output, 0, G_SEEK_SET));
  ASSERT_TRUE (gsf_output_close (output));
  EXPECT_EQ (gsf_output_size (sink), 64);
  g_object_unref (output);
  g_object_unref (sink);
}

TEST_F (CryptStream, FailedSinkWritesAreReported)
{
  FailingOutput *refusing = (FailingOutput *)g_object_new (failing_output_get_type (), NULL);
  refusing->allowed_writes = 0;
  EXPECT_EQ (gsf_output_crypt_new (GSF_OUTPUT (refusing), "abc"), nullptr);
  /* Only the IV was tried: no padding block follows a stream that never started. */
  EXPECT_EQ (refusing->attempts, 1);
  g_object_unref (refusing);

  FailingOutput *failing = (FailingOutput *)g_object_new (failing_output_get_type (), NULL);
  failing->allowed_writes = 1;
  GsfOutput *output = gsf_output_crypt_new (GSF_OUTPUT (failing), "abc");
  ASSERT_NE (output, nullptr);
  Bytes plain = random_bytes (100);
  EXPECT_FALSE (gsf_output_write (output, plain.size (), plain.data ()));
  EXPECT_NE (gsf_output_error (output), nullptr);
  EXPECT_FALSE (gsf_output_close (output));
  g_object_unref (output);
  g_object_unref (failing);
}
} // namespace
