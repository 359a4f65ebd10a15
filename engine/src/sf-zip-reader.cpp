#include "sf-zip-reader.h"

#include "sf-utf8-scope.h"

#include <archive.h>
#include <archive_entry.h>
#include <gio/gio.h>

#include <cstdio>
#include <cstring>

struct _SfZipReader
{
  struct archive *archive;
  GsfInput *source;
  guint8 *block;       /* what the source hands to the archive library */
  GError *first_error; /* repeated by every call after a failure of the whole archive */
  GError *entry_error; /* repeated by every read of the current entry after it failed */
  gboolean source_failed;
  /* The archive library gave up on the data of an entry; the archive is opened again before the
   * next one. */
  gboolean needs_reopen;
  guint entry_index;       /* of the current entry in the central directory, from 1 */
  const gchar *entry_name; /* of the current entry, NULL between entries */
  gchar *repaired_name;    /* shown for an entry whose stored name is not UTF-8 */
  gboolean empty;          /* an archive of no entries, which the library does not recognise */
};

namespace
{
constexpr gsize BLOCK_SIZE = 128 * 1024;

la_ssize_t
read_from_source (struct archive *archive, void *data, const void **buffer)
{
  SfZipReader *reader = static_cast<SfZipReader *> (data);
  gsf_off_t remaining = gsf_input_remaining (reader->source);
  gsize size = remaining < (gsf_off_t)BLOCK_SIZE ? (gsize)remaining : BLOCK_SIZE;
  *buffer = reader->block;
  if (size == 0)
    return 0;
  if (gsf_input_read (reader->source, size, reader->block) == NULL)
    {
      reader->source_failed = TRUE;
      archive_set_error (archive, EIO, "Could not read the archive file");
      return -1;
    }
  return size;
}

la_int64_t
seek_source (struct archive *, void *data, la_int64_t offset, int whence)
{
  SfZipReader *reader = static_cast<SfZipReader *> (data);
  GSeekType type = whence == SEEK_END ? G_SEEK_END : whence == SEEK_CUR ? G_SEEK_CUR : G_SEEK_SET;
  if (gsf_input_seek (reader->source, offset, type))
    return ARCHIVE_FATAL;
  return gsf_input_tell (reader->source);
}

/* Keeps the failure of the last archive call and reports it from now on. */
gboolean
fail (SfZipReader *reader, GError **error)
{
  if (reader->first_error == NULL)
    {
      const gchar *reason = archive_error_string (reader->archive);
      if (reason == NULL)
        reason = "unknown error";
      g_autofree gchar *where = reader->entry_name != NULL
                                    ? g_strdup_printf (" (entry \"%s\")", reader->entry_name)
                                    : g_strdup ("");
      if (reader->source_failed)
        reader->first_error = g_error_new (G_IO_ERROR, G_IO_ERROR_FAILED, "%s%s", reason, where);
      else
        reader->first_error = g_error_new (G_IO_ERROR, G_IO_ERROR_INVALID_DATA,
                                           "Damaged or not a ZIP archive%s: %s", where, reason);
    }
  if (error != NULL)
    *error = g_error_copy (reader->first_error);
  return FALSE;
}

/* A failure of the current entry's data only; later entries can still be read. */
gssize
fail_entry (SfZipReader *reader, GError **error)
{
  if (reader->entry_error == NULL)
    {
      const gchar *reason = archive_error_string (reader->archive);
      reader->entry_error
          = g_error_new (G_IO_ERROR, G_IO_ERROR_INVALID_DATA, "Damaged ZIP entry \"%s\": %s",
                         reader->entry_name, reason != NULL ? reason : "unknown error");
    }
  if (error != NULL)
    *error = g_error_copy (reader->entry_error);
  return -1;
}

/* Length and signature of the end-of-central-directory record, the whole of an archive without
 * entries apart from its comment. */
constexpr gsize END_RECORD_SIZE = 22;
constexpr guint8 END_RECORD_SIGNATURE[] = { 'P', 'K', 5, 6 };
constexpr gsize MAX_COMMENT_SIZE = 0xffff;

guint16
little_endian_16 (const guint8 *bytes)
{
  return (guint16)(bytes[0] | bytes[1] << 8);
}

/* Whether source is a well-formed archive without entries: one end record that counts none and
 * whose comment reaches exactly to the end. Leaves the source at its start. */
gboolean
is_empty_archive (GsfInput *source)
{
  gsf_off_t size = gsf_input_size (source);
  if (size < (gsf_off_t)END_RECORD_SIZE || size > (gsf_off_t)(END_RECORD_SIZE + MAX_COMMENT_SIZE))
    return FALSE;
  const guint8 *record = gsf_input_read (source, END_RECORD_SIZE, NULL);
  gboolean empty
      = record != NULL && memcmp (record, END_RECORD_SIGNATURE, sizeof END_RECORD_SIGNATURE) == 0;
  /* Disk numbers, entry counts, directory size and offset: all zero. */
  for (gsize offset = 4; empty && offset < 20; offset++)
    empty = record[offset] == 0;
  empty = empty && little_endian_16 (record + 20) == size - (gsf_off_t)END_RECORD_SIZE;
  gsf_input_seek (source, 0, G_SEEK_SET);
  return empty;
}

gboolean
open_archive (SfZipReader *reader)
{
  if (reader->archive != NULL)
    archive_read_free (reader->archive);
  reader->archive = archive_read_new ();
  struct archive *archive = reader->archive;
  if (archive == NULL)
    return FALSE;
  gsf_input_seek (reader->source, 0, G_SEEK_SET); /* the library takes positions from the start */
  /* The seekable reader takes sizes, modes and times from the central directory; the local
   * headers of streamed entries carry none of them. */
  return archive_read_support_format_zip_seekable (archive) == ARCHIVE_OK
         && archive_read_set_read_callback (archive, read_from_source) == ARCHIVE_OK
         && archive_read_set_seek_callback (archive, seek_source) == ARCHIVE_OK
         && archive_read_set_callback_data (archive, reader) == ARCHIVE_OK
         && archive_read_open1 (archive) == ARCHIVE_OK;
}

/* After the library gave up on an entry's data: the same archive opened again and moved past the
 * entries already read. */
gboolean
reopen_after_entry (SfZipReader *reader)
{
  reader->needs_reopen = FALSE;
  if (!open_archive (reader))
    return FALSE;
  struct archive_entry *header = NULL;
  for (guint index = 0; index < reader->entry_index; index++)
    if (archive_read_next_header (reader->archive, &header) < ARCHIVE_WARN)
      return FALSE;
  return TRUE;
}

void
fill_entry (SfZipReader *reader, struct archive_entry *header, SfZipEntry *entry)
{
  const gchar *name = archive_entry_pathname (header);
  entry->name_valid = name != NULL && *name != '\0' && g_utf8_validate (name, -1, NULL);
  g_clear_pointer (&reader->repaired_name, g_free);
  if (!entry->name_valid)
    {
      reader->repaired_name
          = name != NULL && *name != '\0'
                ? g_utf8_make_valid (name, -1)
                : g_strdup_printf ("(entry %u: no readable name)", reader->entry_index);
      name = reader->repaired_name;
    }
  entry->name = name;
  entry->is_link = archive_entry_filetype (header) == AE_IFLNK;
  entry->is_dir = archive_entry_filetype (header) == AE_IFDIR;
  entry->size = archive_entry_size (header);
  entry->mode = archive_entry_perm (header) & 0777;
  entry->mtime = MAX (archive_entry_mtime (header), 0);
}
} // namespace

SfZipReader *
sf_zip_reader_new (GsfInput *source, GError **error)
{
  g_return_val_if_fail (GSF_IS_INPUT (source), NULL);
  g_return_val_if_fail (error == NULL || *error == NULL, NULL);

  SfZipReader *reader = g_new0 (SfZipReader, 1);
  reader->source = GSF_INPUT (g_object_ref (source));
  reader->block = static_cast<guint8 *> (g_malloc (BLOCK_SIZE));
  Utf8Scope utf8;
  gsf_input_seek (source, 0, G_SEEK_SET); /* the library takes positions from the start */
  reader->empty = is_empty_archive (source);
  if (!reader->empty && !open_archive (reader))
    {
      if (reader->archive == NULL)
        g_set_error (error, G_IO_ERROR, G_IO_ERROR_FAILED, "Could not read a ZIP archive");
      else
        fail (reader, error);
      sf_zip_reader_free (reader);
      return NULL;
    }
  return reader;
}

gboolean
sf_zip_reader_next_entry (SfZipReader *reader, SfZipEntry *entry, GError **error)
{
  g_return_val_if_fail (reader != NULL, FALSE);
  g_return_val_if_fail (entry != NULL, FALSE);
  g_return_val_if_fail (error == NULL || *error == NULL, FALSE);

  reader->entry_name = NULL;
  g_clear_error (&reader->entry_error);
  if (reader->first_error != NULL)
    return fail (reader, error);
  if (reader->empty)
    return FALSE;
  Utf8Scope utf8;
  if (reader->needs_reopen && !reopen_after_entry (reader))
    return fail (reader, error);
  struct archive_entry *header = NULL;
  /* A name the library cannot convert comes as a warning; the entry itself is there. */
  int result = archive_read_next_header (reader->archive, &header);
  if (result == ARCHIVE_EOF)
    return FALSE;
  if (result < ARCHIVE_WARN)
    return fail (reader, error);
  reader->entry_index++;
  fill_entry (reader, header, entry);
  reader->entry_name = entry->name;
  return TRUE;
}

gssize
sf_zip_reader_read (SfZipReader *reader, gpointer buffer, gsize size, GError **error)
{
  g_return_val_if_fail (reader != NULL, -1);
  g_return_val_if_fail (buffer != NULL && size > 0, -1);
  g_return_val_if_fail (reader->entry_name != NULL, -1);
  g_return_val_if_fail (error == NULL || *error == NULL, -1);

  if (reader->first_error != NULL)
    return fail (reader, error);
  if (reader->entry_error != NULL)
    return fail_entry (reader, error);
  la_ssize_t result = archive_read_data (reader->archive, buffer, size);
  if (result >= 0)
    return result;
  if (reader->source_failed)
    return fail (reader, error);
  /* Anything short of ARCHIVE_OK counts: a checksum mismatch, for one, comes only as a warning.
   * After a fatal one the library refuses every further call, so it starts over. */
  if (result == ARCHIVE_FATAL)
    reader->needs_reopen = TRUE;
  return fail_entry (reader, error);
}

gboolean
sf_zip_reader_skip (SfZipReader *reader, GError **error)
{
  g_return_val_if_fail (reader != NULL, FALSE);
  g_return_val_if_fail (reader->entry_name != NULL, FALSE);
  g_return_val_if_fail (error == NULL || *error == NULL, FALSE);

  if (reader->first_error != NULL)
    return fail (reader, error);
  if (reader->needs_reopen)
    return TRUE;
  if (archive_read_data_skip (reader->archive) != ARCHIVE_OK)
    return fail (reader, error);
  return TRUE;
}

void
sf_zip_reader_free (SfZipReader *reader)
{
  g_return_if_fail (reader != NULL);

  if (reader->archive != NULL)
    archive_read_free (reader->archive);
  g_object_unref (reader->source);
  g_free (reader->block);
  g_clear_error (&reader->first_error);
  g_clear_error (&reader->entry_error);
  g_free (reader->repaired_name);
  g_free (reader);
}
