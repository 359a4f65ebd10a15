/* Entry sets written by our ZIP writer and read back by the reader (libarchive): every entry comes
 * back with the name, size, mode, time and bytes it was written with.
 *
 * Input: a run of entries, each one flags byte (bit 0: size declared in advance), a name length
 * byte and the name (NUL bytes read as "x"), two bytes of mode, four of time, one byte of
 * repeats, two bytes of length and that many bytes of data; the data is written repeats * 4097 + 1
 * times over (at most 3 MiB an entry, 8 MiB in all), in pieces of uneven size, so that entries
 * reach the chunked path beyond 1 MiB. */

#include "sf-zip-reader.h"
#include "sf-zip-writer.h"

#include <gio/gio.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-output-memory.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{
struct Entry
{
  std::string name;
  guint mode;
  gint64 mtime;
  std::string data;
  bool declared;
};

class Input
{
public:
  Input (const uint8_t *data, size_t size) : data_ (data), size_ (size)
  {
  }
  bool take (size_t count, const uint8_t **out)
  {
    if (size_ - used_ < count)
      return false;
    *out = data_ + used_;
    used_ += count;
    return true;
  }

private:
  const uint8_t *data_;
  size_t size_;
  size_t used_ = 0;
};

constexpr size_t ENTRY_LIMIT = 3 * 1024 * 1024;
constexpr size_t TOTAL_LIMIT = 8 * 1024 * 1024;

std::vector<Entry>
parse (const uint8_t *data, size_t size)
{
  std::vector<Entry> entries;
  size_t total = 0;
  Input input (data, size);
  const uint8_t *head, *name, *fields, *bytes;
  while (entries.size () < 64 && total < TOTAL_LIMIT && input.take (2, &head)
         && input.take (head[1], &name) && input.take (9, &fields))
    {
      size_t length = fields[7] | fields[8] << 8;
      if (!input.take (length, &bytes))
        break;
      Entry entry;
      entry.declared = head[0] & 1;
      entry.name = "Root/" + std::string ((const char *)name, head[1]);
      for (char &c : entry.name)
        if (c == '\0')
          c = 'x';
      entry.mode = (fields[0] | fields[1] << 8) & 0777;
      entry.mtime = (gint64)(gint32)(fields[2] | fields[3] << 8 | fields[4] << 16
                                     | (guint32)fields[5] << 24);
      size_t copies = (size_t)fields[6] * 4097 + 1;
      if (length > 0)
        copies = MIN (copies, ENTRY_LIMIT / length + 1);
      for (size_t copy = 0; copy < copies; copy++)
        entry.data.append ((const char *)bytes, length);
      total += entry.data.size ();
      entries.push_back (std::move (entry));
    }
  return entries;
}

/* Names the writer refuses are left out, as packing leaves their files out. */
bool
acceptable (const std::string &name)
{
  return name.back () != '/' && g_utf8_validate (name.c_str (), -1, NULL);
}

void
write_entries (GsfOutput *sink, const std::vector<Entry> &entries)
{
  g_autoptr (SfZipWriter) writer = sf_zip_writer_new (sink, NULL);
  for (const Entry &entry : entries)
    {
      g_autoptr (GError) error = NULL;
      if (!sf_zip_writer_begin_file (writer, entry.name.c_str (), entry.mode, entry.mtime,
                                     entry.declared ? (gint64)entry.data.size () : -1, &error))
        {
          if (acceptable (entry.name)
              || !g_error_matches (error, G_IO_ERROR, G_IO_ERROR_INVALID_ARGUMENT))
            abort ();
          continue;
        }
      for (size_t offset = 0, piece = 1; offset < entry.data.size ();
           offset += piece, piece += 7919)
        {
          piece = MIN (piece, entry.data.size () - offset);
          if (!sf_zip_writer_write (writer, entry.data.data () + offset, piece, NULL))
            abort ();
        }
      if (!sf_zip_writer_end_file (writer, NULL))
        abort ();
    }
  if (!sf_zip_writer_close (writer, NULL))
    abort ();
}

void
read_back (GsfInput *source, const std::vector<Entry> &entries)
{
  g_autoptr (GError) error = NULL;
  g_autoptr (SfZipReader) reader = sf_zip_reader_new (source, &error);
  if (reader == NULL)
    abort ();
  SfZipEntry read;
  std::string data;
  std::vector<char> buffer (64 * 1024);
  for (const Entry &entry : entries)
    {
      if (!acceptable (entry.name))
        continue;
      if (!sf_zip_reader_next_entry (reader, &read, &error) || entry.name != read.name
          || read.mode != entry.mode || read.mtime != MAX (entry.mtime, 0) || read.is_dir
          || read.size != (gint64)entry.data.size ())
        abort ();
      data.clear ();
      gssize got;
      while ((got = sf_zip_reader_read (reader, buffer.data (), buffer.size (), &error)) > 0)
        data.append (buffer.data (), got);
      if (got < 0 || data != entry.data)
        abort ();
    }
  if (sf_zip_reader_next_entry (reader, &read, &error) || error != NULL)
    abort ();
}
} // namespace

extern "C" int
LLVMFuzzerTestOneInput (const uint8_t *data, size_t size)
{
  std::vector<Entry> entries = parse (data, size);
  GsfOutput *sink = gsf_output_memory_new ();
  write_entries (sink, entries);
  gsf_output_close (sink);
  GsfOutputMemory *memory = GSF_OUTPUT_MEMORY (sink);
  GsfInput *source
      = gsf_input_memory_new (gsf_output_memory_get_bytes (memory), gsf_output_size (sink), FALSE);
  read_back (source, entries);
  g_object_unref (source);
  g_object_unref (sink);
  return 0;
}
