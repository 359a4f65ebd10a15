#include "sf-zip-writer.h"

#include "sf-utf8-scope.h"

#include <archive.h>
#include <archive_entry.h>
#include <gio/gio.h>

struct _SfZipWriter
{
  struct archive *archive;
  struct archive_entry *entry; /* reused for every entry */
  GsfOutput *sink;
  GError *sink_error;  /* the sink's own failure, when it was the cause */
  GError *first_error; /* repeated by every call after a failure */
  gboolean discard;    /* output goes nowhere: the sink failed or the archive is abandoned */
  gboolean in_file;
  gboolean closed;
  /* What the current entry may still take, or -1 when its size was not given. */
  gint64 room;
};

namespace
{
/* Output reaches the sink in whole blocks of this size (only the last one is short), so a slow
 * sink such as the cipher stream sees few large writes instead of one per header. */
constexpr int BLOCK_SIZE = 128 * 1024;

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

/* A sink failure is kept here and never shown to the archive library: once it has failed, the
 * library frees neither its compressor nor its block buffer. Output is dropped instead, every
 * public call checks sink_error, and freeing can still finish the archive into nowhere. */
la_ssize_t
write_to_sink (struct archive *, void *data, const void *buffer, size_t size)
{
  SfZipWriter *writer = static_cast<SfZipWriter *> (data);
  if (!writer->discard
      && !gsf_output_write (writer->sink, size, static_cast<const guint8 *> (buffer)))
    {
      writer->sink_error = error_from_sink (writer->sink);
      writer->discard = TRUE;
    }
  return size;
}

/* Keeps the failure of the last call (the sink's, or else the archive library's) and reports it
 * from now on. */
gboolean
fail (SfZipWriter *writer, GError **error)
{
  if (writer->first_error == NULL)
    {
      const gchar *reason = archive_error_string (writer->archive);
      if (writer->sink_error != NULL)
        writer->first_error = g_error_copy (writer->sink_error);
      else
        writer->first_error = g_error_new (G_IO_ERROR, G_IO_ERROR_FAILED, "ZIP archive: %s",
                                           reason != NULL ? reason : "unknown error");
    }
  if (error != NULL)
    *error = g_error_copy (writer->first_error);
  return FALSE;
}

gboolean
check (SfZipWriter *writer, int result, GError **error)
{
  if (result != ARCHIVE_OK || writer->sink_error != NULL)
    return fail (writer, error);
  return TRUE;
}

gboolean
configure (SfZipWriter *writer)
{
  struct archive *archive = writer->archive;
  Utf8Scope utf8;
  return archive_write_set_format_zip (archive) == ARCHIVE_OK
         /* Names are handed over as UTF-8 and marked so. */
         && archive_write_set_options (archive, "zip:compression=deflate,zip:compression-level=6,"
                                                "zip:hdrcharset=UTF-8")
                == ARCHIVE_OK
         && archive_write_set_bytes_per_block (archive, BLOCK_SIZE) == ARCHIVE_OK
         /* A padded last block would hide the end-of-archive record from readers. */
         && archive_write_set_bytes_in_last_block (archive, 1) == ARCHIVE_OK
         && archive_write_open2 (archive, writer, NULL, write_to_sink, NULL, NULL) == ARCHIVE_OK;
}
} // namespace

SfZipWriter *
sf_zip_writer_new (GsfOutput *sink, GError **error)
{
  g_return_val_if_fail (GSF_IS_OUTPUT (sink), NULL);
  g_return_val_if_fail (error == NULL || *error == NULL, NULL);

  SfZipWriter *writer = g_new0 (SfZipWriter, 1);
  writer->archive = archive_write_new ();
  writer->entry = archive_entry_new ();
  writer->sink = GSF_OUTPUT (g_object_ref (sink));
  if (writer->archive == NULL || writer->entry == NULL || !configure (writer))
    {
      if (writer->archive == NULL || writer->entry == NULL)
        g_set_error (error, G_IO_ERROR, G_IO_ERROR_FAILED, "Could not create a ZIP archive");
      else
        fail (writer, error);
      sf_zip_writer_free (writer);
      return NULL;
    }
  return writer;
}

gboolean
sf_zip_writer_begin_file (SfZipWriter *writer, const gchar *name, guint mode, gint64 mtime,
                          gint64 size, GError **error)
{
  g_return_val_if_fail (writer != NULL, FALSE);
  g_return_val_if_fail (name != NULL, FALSE);
  g_return_val_if_fail (!writer->in_file && !writer->closed, FALSE);
  g_return_val_if_fail (error == NULL || *error == NULL, FALSE);

  if (writer->first_error != NULL)
    return fail (writer, error);
  /* Readers take a trailing slash for a folder. */
  if (*name == '\0' || g_str_has_suffix (name, "/") || !g_utf8_validate (name, -1, NULL))
    {
      g_autofree gchar *shown = g_utf8_make_valid (name, -1);
      g_set_error (error, G_IO_ERROR, G_IO_ERROR_INVALID_ARGUMENT,
                   "Invalid file name for a ZIP entry: \"%s\"", shown);
      return FALSE;
    }

  Utf8Scope utf8;
  struct archive_entry *entry = writer->entry;
  archive_entry_clear (entry);
  archive_entry_set_pathname_utf8 (entry, name);
  archive_entry_set_filetype (entry, AE_IFREG);
  archive_entry_set_perm (entry, mode & 0777);
  /* Times before 1970 would come back as times after 2038 from the extended-timestamp field. */
  archive_entry_set_mtime (entry, MAX (mtime, 0), 0);
  /* The sizes and checksum follow the data either way. Without a size the library reserves 64-bit
   * fields for them, in case the entry grows past 4 GiB. */
  if (size >= 0)
    archive_entry_set_size (entry, size);
  else
    archive_entry_unset_size (entry);
  if (!check (writer, archive_write_header (writer->archive, entry), error))
    return FALSE;
  writer->in_file = TRUE;
  writer->room = size;
  return TRUE;
}

gboolean
sf_zip_writer_write (SfZipWriter *writer, gconstpointer data, gsize size, GError **error)
{
  g_return_val_if_fail (writer != NULL, FALSE);
  g_return_val_if_fail (data != NULL || size == 0, FALSE);
  g_return_val_if_fail (writer->in_file, FALSE);
  g_return_val_if_fail (error == NULL || *error == NULL, FALSE);

  if (writer->first_error != NULL)
    return fail (writer, error);
  /* The library would drop the excess silently. */
  if (writer->room >= 0 && size > (gsize)writer->room)
    {
      g_set_error (error, G_IO_ERROR, G_IO_ERROR_INVALID_ARGUMENT,
                   "More data than the ZIP entry's declared size");
      return FALSE;
    }
  if (writer->room >= 0)
    writer->room -= size;
  const guint8 *bytes = static_cast<const guint8 *> (data);
  while (size > 0)
    {
      la_ssize_t written = archive_write_data (writer->archive, bytes, size);
      if (written <= 0 || writer->sink_error != NULL)
        return fail (writer, error);
      bytes += written;
      size -= written;
    }
  return TRUE;
}

gboolean
sf_zip_writer_end_file (SfZipWriter *writer, GError **error)
{
  g_return_val_if_fail (writer != NULL, FALSE);
  g_return_val_if_fail (writer->in_file, FALSE);
  g_return_val_if_fail (error == NULL || *error == NULL, FALSE);

  writer->in_file = FALSE;
  if (writer->first_error != NULL)
    return fail (writer, error);
  /* The entry's header holds its size already; readers would take it for damaged. */
  if (writer->room > 0)
    {
      g_set_error (error, G_IO_ERROR, G_IO_ERROR_INVALID_ARGUMENT,
                   "Less data than the ZIP entry's declared size");
      return FALSE;
    }
  return check (writer, archive_write_finish_entry (writer->archive), error);
}

gboolean
sf_zip_writer_close (SfZipWriter *writer, GError **error)
{
  g_return_val_if_fail (writer != NULL, FALSE);
  g_return_val_if_fail (!writer->in_file && !writer->closed, FALSE);
  g_return_val_if_fail (error == NULL || *error == NULL, FALSE);

  if (writer->first_error != NULL)
    return fail (writer, error);
  writer->closed = TRUE;
  return check (writer, archive_write_close (writer->archive), error);
}

void
sf_zip_writer_free (SfZipWriter *writer)
{
  g_return_if_fail (writer != NULL);

  if (writer->archive != NULL)
    {
      /* Closing releases the library's buffers; the sink the caller gave up on gets nothing. */
      writer->discard = TRUE;
      if (!writer->closed)
        archive_write_close (writer->archive);
      archive_write_free (writer->archive);
    }
  if (writer->entry != NULL)
    archive_entry_free (writer->entry);
  g_object_unref (writer->sink);
  g_clear_error (&writer->sink_error);
  g_clear_error (&writer->first_error);
  g_free (writer);
}
