/* A category archive from a card, protected or not: the decrypting input read at positions the
 * input chooses, then the ZIP reader walking every entry over it.
 *
 * Input: one flags byte (bit 0: protected with the password "pass word"), four little-endian
 * 32-bit read positions, then the archive file. */

#include "gsf-input-crypt.h"
#include "sf-zip-reader.h"

#include "fuzz-support.h"

#include <gsf/gsf-input-memory.h>

#include <vector>

namespace
{
const size_t header_size = 1 + 4 * 4;
const gchar *const password = "pass word";

guint32
read_le32 (const uint8_t *data)
{
  return data[0] | (guint32)data[1] << 8 | (guint32)data[2] << 16 | (guint32)data[3] << 24;
}

/* Reads at each position, as the ZIP layer's seeks do, and checks the input stays consistent. */
void
read_at_positions (GsfInput *input, const uint8_t *positions)
{
  gsf_off_t size = gsf_input_size (input);
  if (size <= 0)
    return;
  for (int i = 0; i < 4; i++)
    {
      guint32 raw = read_le32 (positions + 4 * i);
      gsf_off_t offset = raw % (guint32)size;
      size_t length = MIN ((size_t)(size - offset), (size_t)(raw >> 20) + 1);
      if (gsf_input_seek (input, offset, G_SEEK_SET))
        continue;
      std::vector<guint8> buffer (length);
      if (gsf_input_read (input, length, buffer.data ()) != NULL
          && gsf_input_tell (input) != offset + (gsf_off_t)length)
        abort ();
    }
  gsf_input_seek (input, 0, G_SEEK_SET);
}

void
walk_archive (GsfInput *input)
{
  g_autoptr (GError) error = NULL;
  g_autoptr (SfZipReader) reader = sf_zip_reader_new (input, &error);
  if (reader == NULL)
    return;
  SfZipEntry entry;
  std::vector<guint8> buffer (16 * 1024);
  for (guint index = 0; sf_zip_reader_next_entry (reader, &entry, &error); index++)
    {
      if (entry.name == NULL || entry.size < 0 || entry.mtime < 0 || (entry.mode & ~0777u) != 0)
        abort ();
      /* Every other entry is passed over, as a restore does with excluded ones. */
      if (index % 2 == 1)
        {
          if (!sf_zip_reader_skip (reader, &error))
            break;
          continue;
        }
      gssize got;
      while ((got = sf_zip_reader_read (reader, buffer.data (), buffer.size (), &error)) > 0)
        ;
      if (got < 0)
        break;
    }
}
} // namespace

extern "C" int
LLVMFuzzerTestOneInput (const uint8_t *data, size_t size)
{
  if (size < header_size)
    return 0;
  gboolean is_protected = (data[0] & 1) != 0;
  GsfInput *file
      = gsf_input_memory_new (data + header_size, (gsf_off_t)(size - header_size), FALSE);
  g_autoptr (GError) error = NULL;
  GsfInput *input = gsf_input_crypt_new (file, is_protected ? password : NULL, &error);
  g_object_unref (file);
  if (input == NULL)
    return 0;
  read_at_positions (input, data + 1);
  walk_archive (input);
  g_object_unref (input);
  return 0;
}
