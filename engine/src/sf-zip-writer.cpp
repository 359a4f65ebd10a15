#include "sf-zip-writer.h"

#include "sf-deflate.h"
#include "sf-zip-container.h"

#include <gio/gio.h>
#include <zlib.h>

#include <deque>
#include <string>
#include <vector>

namespace
{
/* An entry up to this size is deflated whole by libdeflate; a larger one goes in chunks of this
 * size, each on whichever thread is free. 1 MiB keeps one entry's copy small and gives a large
 * file enough chunks for both cores, while the 32 KiB dictionary each chunk starts with makes the
 * cuts cost a few bytes per MiB. */
constexpr gsize CHUNK_SIZE = 1024 * 1024;
constexpr gsize DICTIONARY_SIZE = 32 * 1024;
/* Small entries travel together, so that the threads hand over work a few times per MiB rather
 * than once per file. */
constexpr gsize JOB_SIZE = 256 * 1024;
/* Data handed out but not yet written bounds the writer's memory: past this the caller waits for
 * the oldest job and writes it. */
constexpr gsize PENDING_SIZE = 4 * 1024 * 1024;

enum class Kind
{
  WHOLE,
  CHUNK,
  LAST_CHUNK
};

/* A run of an entry's data, with what it starts or ends. */
struct Piece
{
  Kind kind = Kind::WHOLE;
  std::string input;
  gsize length = 0;
  std::string dictionary;
  /* Set when the piece begins an entry: what its header needs. */
  bool begins = false;
  std::string name;
  guint mode = 0;
  gint64 mtime = 0;
  gint64 declared = -1;
  bool ends = false;
  /* Filled by the compressing thread. */
  std::string output;
  guint32 crc = 0;
  gboolean deflated = FALSE;
};

struct Job
{
  SfZipWriter *writer = NULL;
  std::vector<Piece> pieces;
  gsize size = 0;
  /* Guarded by the writer's mutex. */
  bool done = false;
};

/* Tells a compressing thread to end. */
Job STOP;

gpointer deflate_thread (gpointer queue);
} // namespace

struct _SfZipWriter
{
  SfZipContainer *container;
  /* Threads of this writer's own, one per processor, taking jobs from the queue: GLib's thread
   * pools start their threads from a helper thread that a forked child does not have. */
  GAsyncQueue *queue;
  std::vector<GThread *> threads;
  GMutex mutex;
  GCond cond;
  /* Jobs handed to the pool, oldest first, and the one being filled. */
  std::deque<Job *> submitted;
  Job *open = NULL;
  gsize pending = 0;
  /* The current entry: its data not yet in a piece, its last bytes already in one (the next
   * chunk's dictionary), and what it may still take (-1: not declared). */
  bool in_file = false;
  bool closed = false;
  bool chunked = false;
  bool begun = false;
  std::string name;
  guint mode = 0;
  gint64 mtime = 0;
  gint64 declared = -1;
  gint64 room = -1;
  std::string buffer;
  std::string tail;
  /* The entry being written out: its checksum and size so far. */
  guint32 crc = 0;
  guint64 size = 0;
  GError *first_error = NULL;
};

namespace
{
void
deflate_job (Job *job)
{
  for (Piece &piece : job->pieces)
    {
      const guint8 *input = reinterpret_cast<const guint8 *> (piece.input.data ());
      piece.crc = sf_deflate_crc32 (0, input, piece.input.size ());
      if (piece.kind == Kind::WHOLE)
        {
          sf_deflate_whole (input, piece.input.size (), &piece.output);
          piece.deflated = TRUE;
        }
      else
        piece.deflated = sf_deflate_chunk (
            reinterpret_cast<const guint8 *> (piece.dictionary.data ()), piece.dictionary.size (),
            input, piece.input.size (), piece.kind == Kind::LAST_CHUNK, &piece.output);
      std::string ().swap (piece.input);
    }
  SfZipWriter *writer = job->writer;
  g_mutex_lock (&writer->mutex);
  job->done = true;
  g_cond_broadcast (&writer->cond);
  g_mutex_unlock (&writer->mutex);
}

gpointer
deflate_thread (gpointer queue)
{
  for (;;)
    {
      Job *job = static_cast<Job *> (g_async_queue_pop (static_cast<GAsyncQueue *> (queue)));
      if (job == &STOP)
        return NULL;
      deflate_job (job);
    }
}

gboolean
fail (SfZipWriter *writer, GError **error)
{
  if (error != NULL)
    *error = g_error_copy (writer->first_error);
  return FALSE;
}

gboolean
keep_error (SfZipWriter *writer, GError *cause, GError **error)
{
  if (writer->first_error == NULL)
    writer->first_error = cause;
  else
    g_error_free (cause);
  return fail (writer, error);
}

/* Hands the pieces of one job to the container, in order. */
gboolean
write_job (SfZipWriter *writer, Job *job, GError **error)
{
  SfZipContainer *container = writer->container;
  GError *cause = NULL;
  for (Piece &piece : job->pieces)
    {
      if (!piece.deflated)
        return keep_error (writer,
                           g_error_new_literal (G_IO_ERROR, G_IO_ERROR_FAILED,
                                                "Could not deflate an archive entry"),
                           error);
      if (piece.begins)
        {
          writer->crc = 0;
          writer->size = 0;
          if (!sf_zip_container_begin_entry (container, piece.name.c_str (), piece.mode,
                                             piece.mtime, piece.declared, &cause))
            return keep_error (writer, cause, error);
        }
      writer->crc = crc32_combine (writer->crc, piece.crc, piece.length);
      writer->size += piece.length;
      if (!sf_zip_container_write (container, piece.output.data (), piece.output.size (), &cause))
        return keep_error (writer, cause, error);
      if (piece.ends && !sf_zip_container_end_entry (container, writer->crc, writer->size, &cause))
        return keep_error (writer, cause, error);
    }
  return TRUE;
}
} // namespace

namespace
{
/* Waits for the oldest job and writes it out. */
gboolean
write_oldest (SfZipWriter *writer, GError **error)
{
  Job *job = writer->submitted.front ();
  g_mutex_lock (&writer->mutex);
  while (!job->done)
    g_cond_wait (&writer->cond, &writer->mutex);
  g_mutex_unlock (&writer->mutex);
  writer->submitted.pop_front ();
  writer->pending -= job->size;
  gboolean written
      = writer->first_error != NULL ? fail (writer, error) : write_job (writer, job, error);
  delete job;
  return written;
}

gboolean
submit_open (SfZipWriter *writer, GError **error)
{
  Job *job = writer->open;
  if (job == NULL)
    return TRUE;
  writer->open = NULL;
  writer->submitted.push_back (job);
  writer->pending += job->size;
  g_async_queue_push (writer->queue, job);
  while (writer->pending > PENDING_SIZE)
    if (!write_oldest (writer, error))
      return FALSE;
  return TRUE;
}

/* Adds a piece of the current entry to the job being filled, and hands that job out once it is
 * large enough. */
gboolean
add_piece (SfZipWriter *writer, Kind kind, std::string input, bool ends, GError **error)
{
  if (writer->open == NULL)
    {
      writer->open = new Job ();
      writer->open->writer = writer;
    }
  Job *job = writer->open;
  job->pieces.emplace_back ();
  Piece &piece = job->pieces.back ();
  piece.kind = kind;
  piece.length = input.size ();
  piece.input = std::move (input);
  if (kind != Kind::WHOLE)
    piece.dictionary = writer->tail;
  if (kind == Kind::CHUNK)
    writer->tail.assign (piece.input, piece.length - MIN (piece.length, DICTIONARY_SIZE));
  if (!writer->begun)
    {
      piece.begins = true;
      piece.name = writer->name;
      piece.mode = writer->mode;
      piece.mtime = writer->mtime;
      piece.declared = writer->declared;
      writer->begun = true;
    }
  piece.ends = ends;
  job->size += piece.length;
  return job->size < JOB_SIZE || submit_open (writer, error);
}

/* Cuts whole chunks off the current entry's data while more follows them. */
gboolean
cut_chunks (SfZipWriter *writer, GError **error)
{
  while (writer->buffer.size () > CHUNK_SIZE)
    {
      std::string chunk = writer->buffer.substr (0, CHUNK_SIZE);
      writer->buffer.erase (0, CHUNK_SIZE);
      writer->chunked = true;
      if (!add_piece (writer, Kind::CHUNK, std::move (chunk), false, error))
        return FALSE;
    }
  return TRUE;
}

/* Waits for every job handed out and ends the threads; the results are dropped. */
void
drain (SfZipWriter *writer)
{
  for (gsize index = 0; index < writer->threads.size (); index++)
    g_async_queue_push (writer->queue, &STOP);
  for (GThread *thread : writer->threads)
    g_thread_join (thread);
  g_async_queue_unref (writer->queue);
  for (Job *job : writer->submitted)
    delete job;
  writer->submitted.clear ();
  delete writer->open;
  writer->open = NULL;
}
} // namespace

SfZipWriter *
sf_zip_writer_new (GsfOutput *sink, GError **error)
{
  g_return_val_if_fail (GSF_IS_OUTPUT (sink), NULL);
  g_return_val_if_fail (error == NULL || *error == NULL, NULL);

  SfZipWriter *writer = new SfZipWriter ();
  writer->container = sf_zip_container_new (sink);
  writer->queue = g_async_queue_new ();
  for (guint index = 0; index < g_get_num_processors (); index++)
    writer->threads.push_back (g_thread_new ("sf-deflate", deflate_thread, writer->queue));
  g_mutex_init (&writer->mutex);
  g_cond_init (&writer->cond);
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
  /* Refused here rather than when the entry is written out, so that only this file is lost.
   * Readers take a trailing slash for a folder. */
  gsize length = strlen (name);
  if (length == 0 || length > G_MAXUINT16 || name[length - 1] == '/'
      || !g_utf8_validate (name, -1, NULL))
    {
      g_autofree gchar *shown = g_utf8_make_valid (name, -1);
      g_set_error (error, G_IO_ERROR, G_IO_ERROR_INVALID_ARGUMENT,
                   "Invalid file name for a ZIP entry: \"%s\"", shown);
      return FALSE;
    }
  writer->in_file = true;
  writer->begun = false;
  writer->chunked = false;
  writer->name = name;
  writer->mode = mode;
  writer->mtime = mtime;
  writer->declared = size;
  writer->room = size;
  writer->buffer.clear ();
  writer->tail.clear ();
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
  if (writer->room >= 0 && size > (gsize)writer->room)
    {
      g_set_error (error, G_IO_ERROR, G_IO_ERROR_INVALID_ARGUMENT,
                   "More data than the ZIP entry's declared size");
      return FALSE;
    }
  if (writer->room >= 0)
    writer->room -= size;
  writer->buffer.append (static_cast<const gchar *> (data), size);
  return cut_chunks (writer, error);
}

gboolean
sf_zip_writer_end_file (SfZipWriter *writer, GError **error)
{
  g_return_val_if_fail (writer != NULL, FALSE);
  g_return_val_if_fail (writer->in_file, FALSE);
  g_return_val_if_fail (error == NULL || *error == NULL, FALSE);

  writer->in_file = false;
  if (writer->first_error != NULL)
    return fail (writer, error);
  /* The entry's header holds its size; readers would take it for damaged. */
  if (writer->room > 0)
    {
      g_set_error (error, G_IO_ERROR, G_IO_ERROR_INVALID_ARGUMENT,
                   "Less data than the ZIP entry's declared size");
      return FALSE;
    }
  std::string rest;
  rest.swap (writer->buffer);
  return add_piece (writer, writer->chunked ? Kind::LAST_CHUNK : Kind::WHOLE, std::move (rest),
                    true, error);
}

gboolean
sf_zip_writer_close (SfZipWriter *writer, GError **error)
{
  g_return_val_if_fail (writer != NULL, FALSE);
  g_return_val_if_fail (!writer->in_file && !writer->closed, FALSE);
  g_return_val_if_fail (error == NULL || *error == NULL, FALSE);

  if (writer->first_error != NULL)
    return fail (writer, error);
  writer->closed = true;
  if (!submit_open (writer, error))
    return FALSE;
  while (!writer->submitted.empty ())
    if (!write_oldest (writer, error))
      return FALSE;
  GError *cause = NULL;
  return sf_zip_container_close (writer->container, &cause) || keep_error (writer, cause, error);
}

void
sf_zip_writer_free (SfZipWriter *writer)
{
  g_return_if_fail (writer != NULL);

  drain (writer);
  sf_zip_container_free (writer->container);
  g_clear_error (&writer->first_error);
  g_mutex_clear (&writer->mutex);
  g_cond_clear (&writer->cond);
  delete writer;
}
