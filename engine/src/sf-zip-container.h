#pragma once

#include <glib.h>
#include <gsf/gsf-output.h>

G_BEGIN_DECLS

/* Writes the ZIP container around entries deflated elsewhere, front to back in one pass, so that
 * the sink never has to seek (the cipher stream cannot): each entry's checksum and sizes follow
 * its data in a data descriptor and are repeated in the central directory. 64-bit fields and end
 * records appear only where sizes, offsets or the entry count need them. Failures are GErrors in
 * the G_IO_ERROR domain, the sink's own when it failed; after one, every later call fails alike.
 * A container is used by one thread at a time. */
typedef struct _SfZipContainer SfZipContainer;

/* Holds a reference to sink and never closes it. Returns a container to free with
 * sf_zip_container_free. Any thread. */
SfZipContainer *sf_zip_container_new (GsfOutput *sink);

/* Starts a regular file entry named name (valid UTF-8, not empty, no trailing slash) with the
 * permission bits mode & 0777 and the modification time mtime in seconds (kept between 0 and
 * 2^32 - 1). size is the entry's exact uncompressed size, or -1 when it is not known yet: only
 * an entry of known size below 4 GiB goes without 64-bit fields in its header and descriptor. */
gboolean sf_zip_container_begin_entry (SfZipContainer *container, const gchar *name, guint mode,
                                       gint64 mtime, gint64 size, GError **error);

/* Appends deflated data to the current entry. */
gboolean sf_zip_container_write (SfZipContainer *container, gconstpointer data, gsize size,
                                 GError **error);

/* Ends the current entry with the CRC-32 and the uncompressed size of its data; a size other
 * than the one begin_entry was given fails with G_IO_ERROR_INVALID_ARGUMENT. */
gboolean sf_zip_container_end_entry (SfZipContainer *container, guint32 crc, guint64 size,
                                     GError **error);

/* Writes the central directory and the end records and hands the rest to the sink; the archive
 * is complete only when this succeeds. */
gboolean sf_zip_container_close (SfZipContainer *container, GError **error);

/* After close, or to abandon the archive (nothing more reaches the sink then). */
void sf_zip_container_free (SfZipContainer *container);

G_DEFINE_AUTOPTR_CLEANUP_FUNC (SfZipContainer, sf_zip_container_free)

G_END_DECLS
