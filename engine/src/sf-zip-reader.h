#pragma once

#include <glib.h>
#include <gsf/gsf-input.h>

G_BEGIN_DECLS

/* A reader is used by one thread at a time. */

/* Reads a ZIP archive entry by entry, in the order of its central directory, from a seekable
 * GsfInput. A damaged or foreign file gives a GError in the G_IO_ERROR domain
 * (G_IO_ERROR_INVALID_DATA for damaged content), never partial success. Damage confined to one
 * entry (its checksum, its size, its name) fails only the reads of that entry: the next entry can
 * still be read. Damage to the archive as a whole fails every later call with the same error. */
typedef struct _SfZipReader SfZipReader;

typedef struct
{
  const gchar
      *name; /* as stored (UTF-8 from our writer); owned by the reader until the next call */
  gboolean is_dir;
  gint64 size;         /* uncompressed bytes */
  guint mode;          /* permission bits, & 0777 */
  gint64 mtime;        /* seconds, never negative */
  gboolean is_link;    /* a symbolic link; its data is the link's target */
  gboolean name_valid; /* FALSE when the stored name is not UTF-8: name is then a repaired copy */
} SfZipEntry;

/* Holds a reference to source. Returns a reader to free with sf_zip_reader_free. An archive without
 * entries, just its end record, reads as empty. */
SfZipReader *sf_zip_reader_new (GsfInput *source, GError **error);

/* Moves to the next entry, skipping what is left of the current one. FALSE at the end (error
 * unset) or when the archive cannot be read further (error set). */
gboolean sf_zip_reader_next_entry (SfZipReader *reader, SfZipEntry *entry, GError **error);

/* Reads the current entry's data in chunks; 0 at its end, -1 on failure. The end is where the
 * data is checked against its checksum and size, so an entry is intact only once 0 came back. */
gssize sf_zip_reader_read (SfZipReader *reader, gpointer buffer, gsize size, GError **error);

/* Passes over the rest of the current entry without checking it. */
gboolean sf_zip_reader_skip (SfZipReader *reader, GError **error);

void sf_zip_reader_free (SfZipReader *reader);

G_DEFINE_AUTOPTR_CLEANUP_FUNC (SfZipReader, sf_zip_reader_free)

G_END_DECLS
