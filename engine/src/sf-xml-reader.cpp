#include "sf-xml-reader.h"

#include <fcntl.h>
#include <glib/gstdio.h>
#include <libxml/parser.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace
{
/* Without XML_PARSE_NOENT entity references stay references, without XML_PARSE_DTDLOAD no
 * external subset is read, and XML_PARSE_NONET keeps libxml2 off the network altogether. */
const int parse_options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

gboolean
nests_deeper (const xmlNode *node, gint allowed)
{
  for (; node != NULL; node = node->next)
    {
      if (node->type != XML_ELEMENT_NODE)
        continue;
      if (allowed == 0 || nests_deeper (node->children, allowed - 1))
        return TRUE;
    }
  return FALSE;
}

void
set_errno_error (GError **error, int number, const gchar *what, const gchar *path)
{
  g_set_error (error, G_IO_ERROR, g_io_error_from_errno (number), "could not %s %s: %s", what, path,
               g_strerror (number));
}

/* At most SF_XML_READER_MAX_SIZE + 1 bytes, so that a larger file shows itself. */
gchar *
read_bounded (int descriptor, const gchar *path, gsize expected, gsize *size, GError **error)
{
  /* Sized for the file as it was when opened, grown only if it grows while read: most records
   * are a few hundred bytes, and the limit is a megabyte. */
  gsize capacity = MIN (expected, (gsize)SF_XML_READER_MAX_SIZE) + 1;
  g_autofree gchar *buffer = (gchar *)g_malloc (capacity);
  gsize total = 0;
  while (total < SF_XML_READER_MAX_SIZE + 1)
    {
      if (total == capacity)
        {
          capacity = MIN (capacity * 2, (gsize)SF_XML_READER_MAX_SIZE + 1);
          buffer = (gchar *)g_realloc (buffer, capacity);
        }
      ssize_t got = read (descriptor, buffer + total, capacity - total);
      if (got < 0 && errno == EINTR)
        continue;
      if (got < 0)
        {
          set_errno_error (error, errno, "read", path);
          return NULL;
        }
      if (got == 0)
        break;
      total += (gsize)got;
    }
  *size = total;
  return (gchar *)g_steal_pointer (&buffer);
}
} // namespace

xmlDoc *
sf_xml_reader_parse (const gchar *buffer, gsize size, const gchar *name, GError **error)
{
  g_return_val_if_fail (buffer != NULL || size == 0, NULL);

  if (size > SF_XML_READER_MAX_SIZE)
    {
      g_set_error (error, G_IO_ERROR, G_IO_ERROR_MESSAGE_TOO_LARGE, "larger than %d bytes",
                   SF_XML_READER_MAX_SIZE);
      return NULL;
    }
  xmlDoc *document
      = xmlReadMemory (buffer != NULL ? buffer : "", (int)size, name, NULL, parse_options);
  if (document == NULL)
    {
      g_set_error_literal (error, G_IO_ERROR, G_IO_ERROR_INVALID_DATA, "not well-formed XML");
      return NULL;
    }
  if (document->intSubset != NULL || document->extSubset != NULL)
    {
      xmlFreeDoc (document);
      g_set_error_literal (error, G_IO_ERROR, G_IO_ERROR_NOT_SUPPORTED, "declares a document type");
      return NULL;
    }
  if (nests_deeper (document->children, SF_XML_READER_MAX_DEPTH))
    {
      xmlFreeDoc (document);
      g_set_error (error, G_IO_ERROR, G_IO_ERROR_NOT_SUPPORTED,
                   "nests elements deeper than %d levels", SF_XML_READER_MAX_DEPTH);
      return NULL;
    }
  return document;
}

xmlDoc *
sf_xml_reader_read_file (const gchar *path, GError **error)
{
  g_return_val_if_fail (path != NULL, NULL);

  /* Non-blocking, so that a pipe planted under the file's name cannot hang the reader. */
  int descriptor = g_open (path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0);
  if (descriptor < 0)
    {
      set_errno_error (error, errno, "open", path);
      return NULL;
    }
  struct stat status;
  if (fstat (descriptor, &status) != 0 || !S_ISREG (status.st_mode))
    {
      close (descriptor);
      g_set_error (error, G_IO_ERROR, G_IO_ERROR_NOT_REGULAR_FILE, "%s is not a regular file",
                   path);
      return NULL;
    }
  gsize size = 0;
  g_autofree gchar *contents = read_bounded (descriptor, path, (gsize)status.st_size, &size, error);
  close (descriptor);
  if (contents == NULL)
    return NULL;
  return sf_xml_reader_parse (contents, size, path, error);
}
