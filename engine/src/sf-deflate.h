#pragma once

#include <glib.h>

#include <string>

/* Raw deflate of archive entries at level 6, on any thread. Each thread keeps its own
 * compressor state, so calls on different threads run side by side. */

/* Appends the deflate stream of the whole of data to out. */
void sf_deflate_whole (const guint8 *data, gsize size, std::string *out);

/* Appends one piece of a deflate stream cut into chunks to out: primed with dictionary (the up to
 * 32 KiB of data just before this chunk, none for the first), ended with a sync flush so that the
 * next chunk's output simply follows, and with the final block when last. The pieces of all
 * chunks, in order, form one stream of the whole data. A chunk whose samples show data compressed
 * already is stored rather than deflated. FALSE when zlib fails. */
gboolean sf_deflate_chunk (const guint8 *dictionary, gsize dictionary_size, const guint8 *data,
                           gsize size, gboolean last, std::string *out);

/* The CRC-32 of data following the CRC of the data before it (0 at the start). */
guint32 sf_deflate_crc32 (guint32 crc, const guint8 *data, gsize size);
