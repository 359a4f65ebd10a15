#pragma once

#include <gio/gio.h>
#include <libxml/tree.h>

G_BEGIN_DECLS

/* Every XML file the engine reads comes from a card, a package or the home folder; none is
 * larger than this. */
#define SF_XML_READER_MAX_SIZE (1024 * 1024)
/* None nests deeper than this many elements. */
#define SF_XML_READER_MAX_DEPTH 32

/* Parses a document without fetching anything, without a document type (so no entity can be
 * declared or expanded) and within the size and depth limits. name only names the document in
 * libxml2's error record. Returns a new document to free with xmlFreeDoc, or NULL and an error
 * in the G_IO_ERROR domain: G_IO_ERROR_INVALID_DATA when it is not well-formed, otherwise
 * G_IO_ERROR_MESSAGE_TOO_LARGE or G_IO_ERROR_NOT_SUPPORTED. Any thread. */
xmlDoc *sf_xml_reader_parse (const gchar *buffer, gsize size, const gchar *name, GError **error);

/* The same for the regular file at path, read whole (never a device or a pipe); also
 * G_IO_ERROR_NOT_REGULAR_FILE and the errors of opening and reading it. Any thread. */
xmlDoc *sf_xml_reader_read_file (const gchar *path, GError **error);

G_END_DECLS
