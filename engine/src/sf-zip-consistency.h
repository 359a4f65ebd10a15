#pragma once

#include <glib.h>
#include <gsf/gsf-input.h>

G_BEGIN_DECLS

/* Checks a ZIP archive's container for damage that a reader of its entries may not notice:
 * libarchive takes sizes, modes and times from the central directory and passes over what the
 * local headers and data descriptors repeat. Every local header must agree with its central
 * directory record (versions, flags, method, times, name, sizes, checksum, extra fields), every
 * data descriptor with both, the entries must follow each other from the start of the archive to
 * the central directory without a gap, and the end records must agree with the directory and
 * with each other. The entries' data is left to the reader, whose checksums cover it.
 *
 * listed is called with the name and uncompressed size of every entry the central directory
 * lists, in order, once its record and local header agree, so that the caller can compare them
 * with what was written or what a reader yields. Reads the whole directory but holds one record
 * at a time, so any size is bounded by the archive's own. FALSE with G_IO_ERROR_INVALID_DATA at
 * the first inconsistency, G_IO_ERROR_FAILED when the source cannot be read. Any thread; source
 * is used by the calling thread only while this runs and is left at an unspecified position. */
typedef void (*SfZipListedFunc) (const gchar *name, guint64 size, gpointer data);

gboolean sf_zip_consistency_check (GsfInput *source, SfZipListedFunc listed, gpointer data,
                                   GError **error);

/* An SfZipListedFunc that adds each entry to a digest (a GChecksum passed as data), so that two
 * listings of any length compare in a fixed size. */
void sf_zip_consistency_add_listed (const gchar *name, guint64 size, gpointer listing);

G_END_DECLS
