#include "sf-deflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <memory>

namespace
{
constexpr int LEVEL = 6;

struct CompressorFree
{
  void operator() (libdeflate_compressor *compressor) const
  {
    libdeflate_free_compressor (compressor);
  }
};

/* One zlib stream per thread, reset for every chunk: its 256 KiB of state are set up once. */
struct ChunkStream
{
  z_stream stream{};
  bool ready = false;

  ChunkStream ()
  {
    ready = deflateInit2 (&stream, LEVEL, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
  }
  ~ChunkStream ()
  {
    if (ready)
      deflateEnd (&stream);
  }
};

libdeflate_compressor *
thread_compressor ()
{
  thread_local std::unique_ptr<libdeflate_compressor, CompressorFree> compressor (
      libdeflate_alloc_compressor (LEVEL));
  return compressor.get ();
}

/* A chunk is probed at this many places spread over it, this many bytes each, before zlib spends
 * its time on it. */
constexpr gsize SAMPLE_COUNT = 16;
constexpr gsize SAMPLE_SIZE = 4096;

/* Whether every sample of data stays within 1/64 of its size when deflated at the fastest level,
 * as data compressed already (photos, videos, archives) does. Such a chunk is stored: zlib would
 * take twice as long on it as on text and win nothing. What the samples miss costs at most the
 * little a region between two of them (60 KiB in a 1 MiB chunk) would have saved. */
bool
looks_incompressible (const guint8 *data, gsize size)
{
  if (size < SAMPLE_COUNT * SAMPLE_SIZE)
    return false;
  thread_local std::unique_ptr<libdeflate_compressor, CompressorFree> probe (
      libdeflate_alloc_compressor (1));
  if (probe == NULL)
    return false;
  guint8 out[2 * SAMPLE_SIZE];
  for (gsize index = 0; index < SAMPLE_COUNT; index++)
    {
      gsize offset = index * (size - SAMPLE_SIZE) / (SAMPLE_COUNT - 1);
      gsize written
          = libdeflate_deflate_compress (probe.get (), data + offset, SAMPLE_SIZE, out, sizeof out);
      if (written < SAMPLE_SIZE - SAMPLE_SIZE / 64)
        return false;
    }
  return true;
}
} // namespace

void
sf_deflate_whole (const guint8 *data, gsize size, std::string *out)
{
  libdeflate_compressor *compressor = thread_compressor ();
  if (compressor == NULL)
    g_error ("Out of memory for a deflate compressor");
  gsize start = out->size ();
  out->resize (start + libdeflate_deflate_compress_bound (compressor, size));
  /* Within the bound it cannot run out of room. */
  gsize written = libdeflate_deflate_compress (compressor, data, size, out->data () + start,
                                               out->size () - start);
  out->resize (start + written);
}

gboolean
sf_deflate_chunk (const guint8 *dictionary, gsize dictionary_size, const guint8 *data, gsize size,
                  gboolean last, std::string *out)
{
  thread_local ChunkStream chunk;
  z_stream *stream = &chunk.stream;
  /* Right after the reset a change of level writes nothing. */
  int level = looks_incompressible (data, size) ? Z_NO_COMPRESSION : LEVEL;
  if (!chunk.ready || deflateReset (stream) != Z_OK
      || deflateParams (stream, level, Z_DEFAULT_STRATEGY) != Z_OK)
    return FALSE;
  if (dictionary_size > 0 && deflateSetDictionary (stream, dictionary, dictionary_size) != Z_OK)
    return FALSE;
  gsize start = out->size ();
  /* Room for the stored-block worst case, the flush marker and the final block. */
  out->resize (start + deflateBound (stream, size) + 16);
  stream->next_in = const_cast<Bytef *> (data);
  stream->avail_in = size;
  stream->next_out = reinterpret_cast<Bytef *> (out->data () + start);
  stream->avail_out = out->size () - start;
  int result = deflate (stream, last ? Z_FINISH : Z_SYNC_FLUSH);
  gboolean complete = last ? result == Z_STREAM_END : result == Z_OK && stream->avail_in == 0;
  out->resize (out->size () - stream->avail_out);
  return complete;
}

guint32
sf_deflate_crc32 (guint32 crc, const guint8 *data, gsize size)
{
  return libdeflate_crc32 (crc, data, size);
}
