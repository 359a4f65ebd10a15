#pragma once

#include <glib.h>
#include <gsf/gsf-output.h>

G_BEGIN_DECLS

/* A writer is used by one thread at a time. */

/* Writes a ZIP archive entry by entry into a GsfOutput, in one pass. An entry's size need not be
 * known in advance. Entries are deflated on the process's shared compressing threads, whole up to
 * 1 MiB and in chunks beyond, and written out in order; at most a few MiB are held meanwhile, so
 * a failure of the sink may be reported by a later call than the one whose data met it. Failures
 * are GErrors in the G_IO_ERROR domain; a failing sink gives its own message. After a failure
 * every later call fails with the same error. */
typedef struct _SfZipWriter SfZipWriter;

/* Holds a reference to sink; the sink is neither closed nor unreferenced by the writer's close.
 * Returns a writer to free with sf_zip_writer_free. */
SfZipWriter *sf_zip_writer_new (GsfOutput *sink, GError **error);

/* Starts a regular file entry named name (UTF-8, stored as given) with the permission bits
 * mode & 0777 and the modification time mtime in seconds (a negative time is stored as 0). size
 * is the exact number of bytes the entry will get, or -1 when that is not known: a known size
 * below 4 GiB spares the entry its 64-bit size fields (28 bytes). Writing more, or ending the
 * entry with less, fails with G_IO_ERROR_INVALID_ARGUMENT. */
gboolean sf_zip_writer_begin_file (SfZipWriter *writer, const gchar *name, guint mode, gint64 mtime,
                                   gint64 size, GError **error);

gboolean sf_zip_writer_write (SfZipWriter *writer, gconstpointer data, gsize size, GError **error);

gboolean sf_zip_writer_end_file (SfZipWriter *writer, GError **error);

/* Writes the central directory; the archive is complete only when this succeeds. */
gboolean sf_zip_writer_close (SfZipWriter *writer, GError **error);

/* After close, or to abandon the archive (nothing more is written to the sink then). */
void sf_zip_writer_free (SfZipWriter *writer);

G_DEFINE_AUTOPTR_CLEANUP_FUNC (SfZipWriter, sf_zip_writer_free)

G_END_DECLS
