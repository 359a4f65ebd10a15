#include "sf-zip-consistency.h"

#include <gio/gio.h>

#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

namespace
{
constexpr gsize END_SIZE = 22;
constexpr gsize MAX_COMMENT_SIZE = 0xffff;
constexpr gsize LOCATOR_SIZE = 20;
constexpr gsize END64_SIZE = 56;
constexpr gsize CENTRAL_SIZE = 46;
constexpr gsize LOCAL_SIZE = 30;
constexpr guint32 MAX_32 = 0xffffffffu;
constexpr guint16 MAX_16 = 0xffff;
constexpr guint32 SIGNATURE_LOCAL = 0x04034b50;
constexpr guint32 SIGNATURE_CENTRAL = 0x02014b50;
constexpr guint32 SIGNATURE_DESCRIPTOR = 0x08074b50;
constexpr guint32 SIGNATURE_END = 0x06054b50;
constexpr guint32 SIGNATURE_END64 = 0x06064b50;
constexpr guint32 SIGNATURE_LOCATOR = 0x07064b50;
constexpr guint16 FLAG_ENCRYPTED = 1;
constexpr guint16 FLAG_DESCRIPTOR = 1 << 3;
constexpr guint16 METHOD_STORE = 0;
constexpr guint16 METHOD_DEFLATE = 8;
constexpr guint16 EXTRA_ZIP64 = 0x0001;
constexpr guint16 EXTRA_TIME = 0x5455;
/* The hosts the format defines (MS-DOS 0 to OS X 19) and its highest version, 6.3. */
constexpr guint8 LAST_HOST = 19;
constexpr guint8 LAST_VERSION = 63;
constexpr guint8 HOST_UNIX = 3;
constexpr guint32 DOS_DIRECTORY = 0x10;
constexpr guint32 UNIX_TYPE = 0170000;
constexpr guint32 UNIX_REGULAR = 0100000;
constexpr guint32 UNIX_DIRECTORY = 0040000;
constexpr guint32 UNIX_LINK = 0120000;

guint16
le16 (const std::string &bytes, gsize at)
{
  const guint8 *p = reinterpret_cast<const guint8 *> (bytes.data ()) + at;
  return (guint16)(p[0] | p[1] << 8);
}

guint32
le32 (const std::string &bytes, gsize at)
{
  return le16 (bytes, at) | (guint32)le16 (bytes, at + 2) << 16;
}

guint64
le64 (const std::string &bytes, gsize at)
{
  return le32 (bytes, at) | (guint64)le32 (bytes, at + 4) << 32;
}

gboolean damaged (GError **error, const gchar *format, ...) G_GNUC_PRINTF (2, 3);

gboolean
damaged (GError **error, const gchar *format, ...)
{
  va_list args;
  va_start (args, format);
  g_autofree gchar *what = g_strdup_vprintf (format, args);
  va_end (args);
  g_set_error (error, G_IO_ERROR, G_IO_ERROR_INVALID_DATA, "Damaged ZIP archive: %s", what);
  return FALSE;
}

/* Reads of the archive that never reach past its end. */
class Source
{
public:
  explicit Source (GsfInput *input) : input_ (input), size_ (MAX (gsf_input_size (input), 0))
  {
  }

  guint64 size () const
  {
    return size_;
  }

  gboolean read (guint64 offset, guint64 count, std::string *out, GError **error)
  {
    if (offset > size_ || count > size_ - offset)
      return damaged (error, "a record at %" G_GUINT64_FORMAT " reaches past the end", offset);
    out->resize (count);
    if (count > 0
        && (gsf_input_seek (input_, offset, G_SEEK_SET)
            || gsf_input_read (input_, count, reinterpret_cast<guint8 *> (out->data ())) == NULL))
      {
        g_set_error_literal (error, G_IO_ERROR, G_IO_ERROR_FAILED, "Could not read the archive");
        return FALSE;
      }
    return TRUE;
  }

private:
  GsfInput *input_;
  guint64 size_;
};

struct Field
{
  guint16 id;
  std::string data;
};

/* Splits an extra field area into its fields, which must fill it exactly. */
gboolean
parse_extras (const std::string &area, std::vector<Field> *fields, const std::string &name,
              GError **error)
{
  gsize at = 0;
  while (at < area.size ())
    {
      if (area.size () - at < 4 || le16 (area, at + 2) > area.size () - at - 4)
        return damaged (error, "entry \"%s\": an extra field is cut short", name.c_str ());
      gsize length = le16 (area, at + 2);
      fields->push_back ({ le16 (area, at), area.substr (at + 4, length) });
      at += 4 + length;
    }
  return TRUE;
}

const Field *
find_field (const std::vector<Field> &fields, guint16 id)
{
  for (const Field &field : fields)
    if (field.id == id)
      return &field;
  return NULL;
}

/* What the end records say of the central directory; end is where the end records begin. */
struct Directory
{
  guint64 count;
  guint64 offset;
  guint64 size;
  guint64 end;
};

/* The 64-bit end record and its locator, which sit just before the end record. */
gboolean
read_end64 (Source &source, guint64 locator_offset, const std::string &locator,
            Directory *directory, GError **error)
{
  guint64 record_offset = le64 (locator, 8);
  if (le32 (locator, 4) != 0 || le32 (locator, 16) != 1)
    return damaged (error, "the 64-bit end locator names other disks");
  if (record_offset > locator_offset || locator_offset - record_offset < END64_SIZE)
    return damaged (error, "the 64-bit end record is not before its locator");
  std::string record;
  if (!source.read (record_offset, END64_SIZE, &record, error))
    return FALSE;
  if (le32 (record, 0) != SIGNATURE_END64
      || le64 (record, 4) != locator_offset - record_offset - 12)
    return damaged (error, "the 64-bit end record does not end at its locator");
  if ((guint8)record[13] > LAST_HOST || (guint8)record[12] > LAST_VERSION
      || le16 (record, 14) > LAST_VERSION)
    return damaged (error, "the 64-bit end record names an unknown version");
  guint64 count = le64 (record, 32);
  if (le32 (record, 16) != 0 || le32 (record, 20) != 0 || le64 (record, 24) != count)
    return damaged (error, "the 64-bit end record names other disks");
  guint64 size = le64 (record, 40);
  guint64 offset = le64 (record, 48);
  /* The short fields hold the same values, or their largest value where they do not fit. */
  if ((directory->count != count && directory->count != MAX_16)
      || (directory->size != size && directory->size != MAX_32)
      || (directory->offset != offset && directory->offset != MAX_32))
    return damaged (error, "the end records disagree");
  *directory = { count, offset, size, record_offset };
  return TRUE;
}

gboolean
read_end (Source &source, Directory *directory, GError **error)
{
  guint64 size = source.size ();
  if (size < END_SIZE)
    return damaged (error, "no end record");
  guint64 tail_size = MIN (size, END_SIZE + MAX_COMMENT_SIZE);
  std::string tail;
  if (!source.read (size - tail_size, tail_size, &tail, error))
    return FALSE;
  /* The last end record whose comment reaches exactly to the end of the file. */
  gint64 found = -1;
  for (gint64 at = tail_size - END_SIZE; at >= 0 && found < 0; at--)
    if (le32 (tail, at) == SIGNATURE_END && le16 (tail, at + 20) == tail_size - at - END_SIZE)
      found = at;
  if (found < 0)
    return damaged (error, "no end record");
  if (le16 (tail, found + 4) != 0 || le16 (tail, found + 6) != 0
      || le16 (tail, found + 8) != le16 (tail, found + 10))
    return damaged (error, "the end record names other disks");
  guint64 end_offset = size - tail_size + found;
  *directory
      = { le16 (tail, found + 10), le32 (tail, found + 16), le32 (tail, found + 12), end_offset };
  std::string locator;
  if (end_offset >= LOCATOR_SIZE
      && !source.read (end_offset - LOCATOR_SIZE, LOCATOR_SIZE, &locator, error))
    return FALSE;
  if (end_offset >= LOCATOR_SIZE && le32 (locator, 0) == SIGNATURE_LOCATOR)
    {
      if (!read_end64 (source, end_offset - LOCATOR_SIZE, locator, directory, error))
        return FALSE;
    }
  else if (directory->count == MAX_16 || directory->size == MAX_32 || directory->offset == MAX_32)
    return damaged (error, "the 64-bit end records are missing");
  if (directory->offset > directory->end || directory->end - directory->offset != directory->size)
    return damaged (error, "the central directory does not end where the end records begin");
  return TRUE;
}

/* One central directory record, its 64-bit values resolved. */
struct Record
{
  guint16 version_needed;
  guint16 flags;
  guint16 method;
  guint32 dos_time;
  guint32 crc;
  guint64 compressed;
  guint64 size;
  guint64 offset;
  std::string name;
  std::vector<Field> extras;
};

/* Takes the 64-bit values of the fields that hold their largest value from the ZIP64 field, which
 * must hold exactly those. */
gboolean
resolve_zip64 (Record *record, guint32 disk, GError **error)
{
  std::vector<guint64 *> wide;
  if (record->size == MAX_32)
    wide.push_back (&record->size);
  if (record->compressed == MAX_32)
    wide.push_back (&record->compressed);
  if (record->offset == MAX_32)
    wide.push_back (&record->offset);
  const Field *field = find_field (record->extras, EXTRA_ZIP64);
  gsize expected = wide.size () * 8 + (disk == MAX_16 ? 4 : 0);
  if ((field == NULL && expected > 0) || (field != NULL && field->data.size () != expected))
    return damaged (error, "entry \"%s\": its 64-bit field does not match its record",
                    record->name.c_str ());
  for (gsize index = 0; index < wide.size (); index++)
    *wide[index] = le64 (field->data, index * 8);
  if ((disk == MAX_16 ? le32 (field->data, wide.size () * 8) : disk) != 0)
    return damaged (error, "entry \"%s\" is on another disk", record->name.c_str ());
  return TRUE;
}

/* Checks the fields of a central record that nothing else repeats, as far as they can be. */
gboolean
check_central_fields (const std::string &fixed, const Record &record, GError **error)
{
  const gchar *name = record.name.c_str ();
  guint8 host = (guint8)fixed[5];
  if (host > LAST_HOST || (guint8)fixed[4] > LAST_VERSION || record.version_needed > LAST_VERSION)
    return damaged (error, "entry \"%s\" names an unknown version", name);
  if (record.flags & FLAG_ENCRYPTED)
    return damaged (error, "entry \"%s\" is encrypted", name);
  if (record.method != METHOD_STORE && record.method != METHOD_DEFLATE)
    return damaged (error, "entry \"%s\" has an unknown compression method", name);
  if (record.method == METHOD_STORE && record.compressed != record.size)
    return damaged (error, "stored entry \"%s\" has two sizes", name);
  if ((le16 (fixed, 36) & ~1u) != 0)
    return damaged (error, "entry \"%s\" has unknown internal attributes", name);
  guint32 external = le32 (fixed, 38);
  guint32 type = (external >> 16) & UNIX_TYPE;
  if (host == HOST_UNIX
      && ((type != UNIX_REGULAR && type != UNIX_DIRECTORY && type != UNIX_LINK)
          || (external & 0xff00) != 0 || ((external & DOS_DIRECTORY) && type != UNIX_DIRECTORY)))
    return damaged (error, "entry \"%s\" has unknown attributes", name);
  if (record.name.empty ())
    return damaged (error, "an entry has no name");
  const Field *time = find_field (record.extras, EXTRA_TIME);
  if (time != NULL
      && (time->data.empty () || (time->data[0] & ~7) != 0
          || time->data.size () != ((time->data[0] & 1) ? 5u : 1u)))
    return damaged (error, "entry \"%s\": its time field is damaged", name);
  return TRUE;
}

/* Reads the central record at *at and moves *at past it. */
gboolean
read_record (Source &source, const Directory &directory, guint64 *at, Record *record,
             GError **error)
{
  std::string fixed;
  if (directory.end - *at < CENTRAL_SIZE)
    return damaged (error, "the central directory holds fewer records than counted");
  if (!source.read (*at, CENTRAL_SIZE, &fixed, error))
    return FALSE;
  if (le32 (fixed, 0) != SIGNATURE_CENTRAL)
    return damaged (error, "a central directory record is damaged");
  guint64 name_size = le16 (fixed, 28);
  guint64 extras_size = le16 (fixed, 30);
  guint64 variable = name_size + extras_size + le16 (fixed, 32);
  std::string rest;
  if (directory.end - *at - CENTRAL_SIZE < variable)
    return damaged (error, "a central directory record reaches past the directory");
  if (!source.read (*at + CENTRAL_SIZE, variable, &rest, error))
    return FALSE;
  *at += CENTRAL_SIZE + variable;
  record->version_needed = le16 (fixed, 6);
  record->flags = le16 (fixed, 8);
  record->method = le16 (fixed, 10);
  record->dos_time = le32 (fixed, 12);
  record->crc = le32 (fixed, 16);
  record->compressed = le32 (fixed, 20);
  record->size = le32 (fixed, 24);
  record->offset = le32 (fixed, 42);
  record->name = rest.substr (0, name_size);
  record->extras.clear ();
  return parse_extras (rest.substr (name_size, extras_size), &record->extras, record->name, error)
         && resolve_zip64 (record, le16 (fixed, 34), error)
         && check_central_fields (fixed, *record, error);
}

/* A value of a local header with the data-descriptor flag may be 0 (given after the data). */
bool
agrees (guint64 local, guint64 central, bool descriptor)
{
  return local == central || (descriptor && local == 0);
}

/* The extra fields of a local header: the same as the central record's, in the same order, apart
 * from the 64-bit field; times as the central record's; the 64-bit field's sizes as its own. */
gboolean
check_local_extras (const std::vector<Field> &local, const Record &record, bool descriptor,
                    GError **error)
{
  const gchar *name = record.name.c_str ();
  std::vector<const Field *> central_fields;
  for (const Field &field : record.extras)
    if (field.id != EXTRA_ZIP64)
      central_fields.push_back (&field);
  gsize index = 0;
  for (const Field &field : local)
    {
      if (field.id == EXTRA_ZIP64)
        {
          if (field.data.size () != 16 || !agrees (le64 (field.data, 0), record.size, descriptor)
              || !agrees (le64 (field.data, 8), record.compressed, descriptor))
            return damaged (error, "entry \"%s\": its local 64-bit field disagrees", name);
          continue;
        }
      if (index == central_fields.size () || central_fields[index]->id != field.id)
        return damaged (error, "entry \"%s\": its local extra fields disagree", name);
      const Field &central = *central_fields[index++];
      if (field.id != EXTRA_TIME)
        {
          if (field.data != central.data)
            return damaged (error, "entry \"%s\": its local extra fields disagree", name);
          continue;
        }
      guint8 flags = field.data.empty () ? 0 : field.data[0];
      gsize times = (flags & 1) + (flags >> 1 & 1) + (flags >> 2 & 1);
      if (field.data.size () != 1 + 4 * times || flags != (guint8)central.data[0]
          || ((flags & 1) && le32 (field.data, 1) != le32 (central.data, 1)))
        return damaged (error, "entry \"%s\": its local time disagrees", name);
    }
  if (index != central_fields.size ())
    return damaged (error, "entry \"%s\": its local extra fields disagree", name);
  return TRUE;
}

/* The local header of record, which must begin at *next, and the data descriptor after its data;
 * moves *next past them. */
gboolean
check_local (Source &source, const Directory &directory, const Record &record, guint64 *next,
             GError **error)
{
  const gchar *name = record.name.c_str ();
  if (record.offset != *next)
    return damaged (error, "entry \"%s\" does not begin where the one before ends", name);
  std::string fixed;
  std::string rest;
  if (directory.offset - record.offset < LOCAL_SIZE)
    return damaged (error, "entry \"%s\" reaches into the central directory", name);
  if (!source.read (record.offset, LOCAL_SIZE, &fixed, error))
    return FALSE;
  guint64 variable = (guint64)le16 (fixed, 26) + le16 (fixed, 28);
  guint64 data_start = record.offset + LOCAL_SIZE + variable;
  if (le32 (fixed, 0) != SIGNATURE_LOCAL || le16 (fixed, 26) != record.name.size ()
      || data_start > directory.offset || record.compressed > directory.offset - data_start)
    return damaged (error, "entry \"%s\": its local header is damaged", name);
  if (!source.read (record.offset + LOCAL_SIZE, variable, &rest, error))
    return FALSE;
  bool descriptor = record.flags & FLAG_DESCRIPTOR;
  std::vector<Field> extras;
  if (!parse_extras (rest.substr (record.name.size ()), &extras, record.name, error))
    return FALSE;
  bool wide = find_field (extras, EXTRA_ZIP64) != NULL;
  guint32 local_compressed = le32 (fixed, 18);
  guint32 local_size = le32 (fixed, 22);
  if (le16 (fixed, 4) != record.version_needed || le16 (fixed, 6) != record.flags
      || le16 (fixed, 8) != record.method || le32 (fixed, 10) != record.dos_time
      || !agrees (le32 (fixed, 14), record.crc, descriptor)
      || rest.compare (0, record.name.size (), record.name) != 0
      || (wide && (local_compressed != MAX_32 || local_size != MAX_32))
      || (!wide
          && (!agrees (local_compressed, record.compressed, descriptor)
              || !agrees (local_size, record.size, descriptor))))
    return damaged (error, "entry \"%s\": its local header disagrees with the directory", name);
  if (!check_local_extras (extras, record, descriptor, error))
    return FALSE;

  *next = data_start + record.compressed;
  if (!descriptor)
    return TRUE;
  /* The descriptor's signature is optional; its sizes are 64-bit where the header has the
   * 64-bit field. */
  gsize width = wide ? 8 : 4;
  std::string bytes;
  guint64 room = directory.offset - *next;
  if (!source.read (*next, MIN (room, (guint64)4 + 4 + 2 * width), &bytes, error))
    return FALSE;
  gsize at = bytes.size () >= 4 && le32 (bytes, 0) == SIGNATURE_DESCRIPTOR ? 4 : 0;
  if (bytes.size () < at + 4 + 2 * width)
    return damaged (error, "entry \"%s\": its data descriptor is cut short", name);
  guint64 compressed = wide ? le64 (bytes, at + 4) : le32 (bytes, at + 4);
  guint64 size = wide ? le64 (bytes, at + 4 + width) : le32 (bytes, at + 4 + width);
  if (le32 (bytes, at) != record.crc || compressed != record.compressed || size != record.size)
    return damaged (error, "entry \"%s\": its data descriptor disagrees with the directory", name);
  *next += at + 4 + 2 * width;
  return TRUE;
}
} // namespace

void
sf_zip_consistency_add_listed (const gchar *name, guint64 size, gpointer data)
{
  g_return_if_fail (data != NULL);
  g_return_if_fail (name != NULL);

  GChecksum *listing = static_cast<GChecksum *> (data);
  guint64 fields[2] = { GUINT64_TO_LE (strlen (name)), GUINT64_TO_LE (size) };
  g_checksum_update (listing, reinterpret_cast<const guchar *> (&fields[0]), sizeof fields[0]);
  g_checksum_update (listing, reinterpret_cast<const guchar *> (name), strlen (name));
  g_checksum_update (listing, reinterpret_cast<const guchar *> (&fields[1]), sizeof fields[1]);
}

gboolean
sf_zip_consistency_check (GsfInput *input, SfZipListedFunc listed, gpointer data, GError **error)
{
  g_return_val_if_fail (GSF_IS_INPUT (input), FALSE);
  g_return_val_if_fail (listed != NULL, FALSE);
  g_return_val_if_fail (error == NULL || *error == NULL, FALSE);

  Source source (input);
  Directory directory = {};
  if (!read_end (source, &directory, error))
    return FALSE;
  guint64 at = directory.offset;
  guint64 next = 0;
  Record record;
  for (guint64 index = 0; index < directory.count; index++)
    {
      if (!read_record (source, directory, &at, &record, error)
          || !check_local (source, directory, record, &next, error))
        return FALSE;
      listed (record.name.c_str (), record.size, data);
    }
  if (at != directory.end)
    return damaged (error, "the central directory holds more than its records");
  if (next != directory.offset)
    return damaged (error, "bytes lie between the last entry and the central directory");
  return TRUE;
}
