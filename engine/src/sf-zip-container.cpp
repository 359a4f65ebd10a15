#include "sf-zip-container.h"

#include <gio/gio.h>
#include <time.h>

#include <string>
#include <vector>

namespace
{
/* Output reaches the sink in whole blocks of this size (only the last one is short), so a slow
 * sink such as the cipher stream sees few large writes instead of one per header. */
constexpr gsize BLOCK_SIZE = 128 * 1024;
constexpr guint32 MAX_32 = 0xffffffffu;
constexpr guint64 MAX_16 = 0xffff;
/* Made by Unix (3); 2.0 for plain entries, 4.5 where 64-bit fields appear. */
constexpr guint16 MADE_BY_UNIX = 3 << 8;
constexpr guint16 VERSION_PLAIN = 20;
constexpr guint16 VERSION_ZIP64 = 45;
constexpr guint16 FLAG_DESCRIPTOR = 1 << 3;
constexpr guint16 FLAG_UTF8 = 1 << 11;
constexpr guint16 METHOD_DEFLATE = 8;
constexpr guint16 EXTRA_ZIP64 = 0x0001;
constexpr guint16 EXTRA_TIME = 0x5455;
constexpr guint16 EXTRA_OWNER = 0x7875;
/* The extended timestamp (modification time only) and the owner field (uid and gid 0). */
constexpr guint16 COMMON_EXTRAS_SIZE = 4 + 5 + 4 + 11;
/* Declared sizes from here on get 64-bit fields: deflate can make incompressible data a little
 * larger (5 bytes in 16 KiB), and its compressed size must fit the descriptor too. */
constexpr gint64 LARGE_DECLARED = 0xff000000;

/* What the central directory repeats of one entry. */
struct Entry
{
  std::string name;
  guint16 flags;
  guint32 dos_time;
  guint32 mtime;
  guint32 mode;
  guint64 offset;
  /* The local header has 64-bit fields, and so has the descriptor. */
  bool zip64;
  guint32 crc = 0;
  guint64 compressed = 0;
  guint64 size = 0;
};

/* Little-endian fields appended to a string. */
class Fields
{
public:
  explicit Fields (std::string &out) : out_ (out)
  {
  }
  Fields &u8 (guint8 value)
  {
    out_.push_back ((char)value);
    return *this;
  }
  Fields &u16 (guint16 value)
  {
    return u8 (value & 0xff).u8 (value >> 8);
  }
  Fields &u32 (guint32 value)
  {
    return u16 (value & 0xffff).u16 (value >> 16);
  }
  Fields &u64 (guint64 value)
  {
    return u32 (value & MAX_32).u32 (value >> 32);
  }
  Fields &text (const std::string &value)
  {
    out_ += value;
    return *this;
  }
  Fields &common_extras (guint32 mtime)
  {
    u16 (EXTRA_TIME).u16 (5).u8 (1).u32 (mtime);
    return u16 (EXTRA_OWNER).u16 (11).u8 (1).u8 (4).u32 (0).u8 (4).u32 (0);
  }

private:
  std::string &out_;
};

/* DOS date and time in local time, as other ZIP writers fill them; readers that know the
 * extended timestamp take that instead. Clamped to the years the format can hold. */
guint32
dos_time (guint32 mtime)
{
  time_t seconds = mtime;
  struct tm local;
  if (localtime_r (&seconds, &local) == NULL || local.tm_year < 80)
    return (1 << 5 | 1) << 16;
  if (local.tm_year > 2107 - 1900)
    return 0xff9fbf7du;
  guint32 date = (local.tm_year - 80) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday;
  guint32 time = local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2;
  return date << 16 | time;
}

bool
is_ascii (const std::string &text)
{
  for (char c : text)
    if ((guchar)c >= 0x80)
      return false;
  return true;
}
} // namespace

struct _SfZipContainer
{
  GsfOutput *sink;
  std::string block;
  std::vector<Entry> entries;
  /* The offset of the next byte in the archive. */
  guint64 offset = 0;
  GError *error = NULL;
  bool in_entry = false;
  bool closed = false;
  gint64 declared = -1;
};

namespace
{
GError *
error_from_sink (GsfOutput *sink)
{
  const GError *cause = gsf_output_error (sink);
  if (cause == NULL)
    return g_error_new (G_IO_ERROR, G_IO_ERROR_FAILED, "Could not write the archive");
  gint code = G_IO_ERROR_FAILED;
  if (cause->domain == G_IO_ERROR)
    code = cause->code;
  else if (cause->domain == gsf_output_error_id ())
    code = g_io_error_from_errno (cause->code); /* stdio outputs report errno */
  return g_error_new_literal (G_IO_ERROR, code, cause->message);
}

gboolean
fail (SfZipContainer *container, GError **error)
{
  if (error != NULL)
    *error = g_error_copy (container->error);
  return FALSE;
}

gboolean
flush (SfZipContainer *container, GError **error)
{
  const guint8 *bytes = reinterpret_cast<const guint8 *> (container->block.data ());
  if (!container->block.empty ()
      && !gsf_output_write (container->sink, container->block.size (), bytes))
    container->error = error_from_sink (container->sink);
  container->block.clear ();
  return container->error == NULL || fail (container, error);
}

/* Appends to the block, handing it on whenever it is full. */
gboolean
put (SfZipContainer *container, const void *data, gsize size, GError **error)
{
  const gchar *bytes = static_cast<const gchar *> (data);
  container->offset += size;
  while (size > 0)
    {
      gsize room = BLOCK_SIZE - container->block.size ();
      gsize taken = MIN (room, size);
      container->block.append (bytes, taken);
      bytes += taken;
      size -= taken;
      if (container->block.size () == BLOCK_SIZE && !flush (container, error))
        return FALSE;
    }
  return TRUE;
}

gboolean
put_fields (SfZipContainer *container, const std::string &fields, GError **error)
{
  return put (container, fields.data (), fields.size (), error);
}

gboolean
usable (SfZipContainer *container, GError **error)
{
  return container->error == NULL || fail (container, error);
}

std::string
local_header (const Entry &entry, gint64 declared)
{
  std::string out;
  Fields fields (out);
  fields.u32 (0x04034b50)
      .u16 (entry.zip64 ? VERSION_ZIP64 : VERSION_PLAIN)
      .u16 (entry.flags)
      .u16 (METHOD_DEFLATE)
      .u32 (entry.dos_time)
      .u32 (0);
  if (entry.zip64)
    fields.u32 (MAX_32).u32 (MAX_32);
  else
    fields.u32 (0).u32 (declared);
  fields.u16 (entry.name.size ())
      .u16 (COMMON_EXTRAS_SIZE + (entry.zip64 ? 20 : 0))
      .text (entry.name)
      .common_extras (entry.mtime);
  /* Sizes unknown here: they follow in the 64-bit descriptor. */
  if (entry.zip64)
    fields.u16 (EXTRA_ZIP64).u16 (16).u64 (0).u64 (0);
  return out;
}

std::string
central_header (const Entry &entry)
{
  std::string zip64;
  Fields large (zip64);
  if (entry.size >= MAX_32)
    large.u64 (entry.size);
  if (entry.compressed >= MAX_32)
    large.u64 (entry.compressed);
  if (entry.offset >= MAX_32)
    large.u64 (entry.offset);
  guint16 version = entry.zip64 || !zip64.empty () ? VERSION_ZIP64 : VERSION_PLAIN;

  std::string out;
  Fields fields (out);
  fields.u32 (0x02014b50)
      .u16 (MADE_BY_UNIX | version)
      .u16 (version)
      .u16 (entry.flags)
      .u16 (METHOD_DEFLATE)
      .u32 (entry.dos_time)
      .u32 (entry.crc)
      .u32 (MIN (entry.compressed, MAX_32))
      .u32 (MIN (entry.size, MAX_32))
      .u16 (entry.name.size ())
      .u16 (COMMON_EXTRAS_SIZE + (zip64.empty () ? 0 : 4 + zip64.size ()))
      .u16 (0)
      .u16 (0)
      .u16 (0)
      .u32 ((0100000 | entry.mode) << 16)
      .u32 (MIN (entry.offset, MAX_32))
      .text (entry.name)
      .common_extras (entry.mtime);
  if (!zip64.empty ())
    fields.u16 (EXTRA_ZIP64).u16 (zip64.size ()).text (zip64);
  return out;
}

/* The end records: the 64-bit ones first when the count, the size or the offset of the central
 * directory need them. */
std::string
end_records (guint64 count, guint64 directory_offset, guint64 directory_size)
{
  std::string out;
  Fields fields (out);
  bool zip64 = count >= MAX_16 || directory_offset >= MAX_32 || directory_size >= MAX_32;
  if (zip64)
    {
      guint64 record_offset = directory_offset + directory_size;
      fields.u32 (0x06064b50)
          .u64 (44)
          .u16 (MADE_BY_UNIX | VERSION_ZIP64)
          .u16 (VERSION_ZIP64)
          .u32 (0)
          .u32 (0)
          .u64 (count)
          .u64 (count)
          .u64 (directory_size)
          .u64 (directory_offset);
      fields.u32 (0x07064b50).u32 (0).u64 (record_offset).u32 (1);
    }
  fields.u32 (0x06054b50)
      .u16 (0)
      .u16 (0)
      .u16 (MIN (count, MAX_16))
      .u16 (MIN (count, MAX_16))
      .u32 (MIN (directory_size, MAX_32))
      .u32 (MIN (directory_offset, MAX_32))
      .u16 (0);
  return out;
}
} // namespace

SfZipContainer *
sf_zip_container_new (GsfOutput *sink)
{
  g_return_val_if_fail (GSF_IS_OUTPUT (sink), NULL);

  SfZipContainer *container = new SfZipContainer ();
  container->sink = GSF_OUTPUT (g_object_ref (sink));
  container->block.reserve (BLOCK_SIZE);
  return container;
}

gboolean
sf_zip_container_begin_entry (SfZipContainer *container, const gchar *name, guint mode,
                              gint64 mtime, gint64 size, GError **error)
{
  g_return_val_if_fail (container != NULL, FALSE);
  g_return_val_if_fail (name != NULL, FALSE);
  g_return_val_if_fail (!container->in_entry && !container->closed, FALSE);
  g_return_val_if_fail (error == NULL || *error == NULL, FALSE);

  if (!usable (container, error))
    return FALSE;
  /* Readers take a trailing slash for a folder. */
  gsize length = strlen (name);
  if (length == 0 || length > MAX_16 || name[length - 1] == '/'
      || !g_utf8_validate (name, -1, NULL))
    {
      g_autofree gchar *shown = g_utf8_make_valid (name, -1);
      g_set_error (error, G_IO_ERROR, G_IO_ERROR_INVALID_ARGUMENT,
                   "Invalid file name for a ZIP entry: \"%s\"", shown);
      return FALSE;
    }
  Entry entry;
  entry.name = name;
  entry.flags = FLAG_DESCRIPTOR | (is_ascii (entry.name) ? 0 : FLAG_UTF8);
  /* Readers take the extended timestamp as unsigned: a time before 1970 would come back after
   * 2038. */
  entry.mtime = CLAMP (mtime, 0, (gint64)MAX_32);
  entry.dos_time = dos_time (entry.mtime);
  entry.mode = mode & 0777;
  entry.offset = container->offset;
  entry.zip64 = size < 0 || size >= LARGE_DECLARED;
  if (!put_fields (container, local_header (entry, size), error))
    return FALSE;
  container->entries.push_back (std::move (entry));
  container->in_entry = true;
  container->declared = size;
  return TRUE;
}

gboolean
sf_zip_container_write (SfZipContainer *container, gconstpointer data, gsize size, GError **error)
{
  g_return_val_if_fail (container != NULL, FALSE);
  g_return_val_if_fail (data != NULL || size == 0, FALSE);
  g_return_val_if_fail (container->in_entry, FALSE);
  g_return_val_if_fail (error == NULL || *error == NULL, FALSE);

  if (!usable (container, error))
    return FALSE;
  container->entries.back ().compressed += size;
  return put (container, data, size, error);
}

gboolean
sf_zip_container_end_entry (SfZipContainer *container, guint32 crc, guint64 size, GError **error)
{
  g_return_val_if_fail (container != NULL, FALSE);
  g_return_val_if_fail (container->in_entry, FALSE);
  g_return_val_if_fail (error == NULL || *error == NULL, FALSE);

  container->in_entry = false;
  if (!usable (container, error))
    return FALSE;
  /* The header holds the declared size already; readers would take the entry for damaged. */
  if (container->declared >= 0 && (guint64)container->declared != size)
    {
      g_set_error (error, G_IO_ERROR, G_IO_ERROR_INVALID_ARGUMENT,
                   "The ZIP entry's data differs from its declared size");
      return FALSE;
    }
  Entry &entry = container->entries.back ();
  if (!entry.zip64 && (size >= MAX_32 || entry.compressed >= MAX_32))
    {
      g_set_error (error, G_IO_ERROR, G_IO_ERROR_INVALID_ARGUMENT,
                   "A ZIP entry without 64-bit fields grew past 4 GiB");
      return FALSE;
    }
  entry.crc = crc;
  entry.size = size;
  std::string descriptor;
  Fields fields (descriptor);
  fields.u32 (0x08074b50).u32 (crc);
  if (entry.zip64)
    fields.u64 (entry.compressed).u64 (size);
  else
    fields.u32 (entry.compressed).u32 (size);
  return put_fields (container, descriptor, error);
}

gboolean
sf_zip_container_close (SfZipContainer *container, GError **error)
{
  g_return_val_if_fail (container != NULL, FALSE);
  g_return_val_if_fail (!container->in_entry && !container->closed, FALSE);
  g_return_val_if_fail (error == NULL || *error == NULL, FALSE);

  container->closed = true;
  if (!usable (container, error))
    return FALSE;
  guint64 directory_offset = container->offset;
  for (const Entry &entry : container->entries)
    if (!put_fields (container, central_header (entry), error))
      return FALSE;
  guint64 directory_size = container->offset - directory_offset;
  return put_fields (container,
                     end_records (container->entries.size (), directory_offset, directory_size),
                     error)
         && flush (container, error);
}

void
sf_zip_container_free (SfZipContainer *container)
{
  g_return_if_fail (container != NULL);

  g_object_unref (container->sink);
  g_clear_error (&container->error);
  delete container;
}
