#include "sf-backup-info.h"

#include "sf-log.h"
#include "sf-tree-removal.h"
#include "sf-vfs-utils.h"
#include "sf-xml-reader.h"

#include <libxml/tree.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <unistd.h>

struct _SfBackupInfo
{
  gint ref_count;
  GFile *uri;
  gchar *name;
  gint32 timestamp;
  gint32 time_for_restoration;
  gint format;
  gboolean is_protected;
  gchar *password;
  gchar *device_version;
  gchar *notes;
  guint32 categories;
  guint32 num_files[SF_CATEGORY_COUNT];
  guint64 size[SF_CATEGORY_COUNT];
};

namespace
{
constexpr const gchar *metadata_name = "backup.metadata";

constexpr const gchar *metadata_template
    = "<backup-metadata>\n"
      "  <format>%d</format>\n"
      "  <size>%ld</size>\n"
      "  <number-of-files>%d</number-of-files>\n"
      "  <timestamp>%ld</timestamp>\n"
      "  <time_for_restoration>%ld</time_for_restoration>  <protected>%s</protected>\n"
      "  <device-version>%s</device-version>\n"
      "  <notes>%s</notes>\n"
      "  <categories>\n"
      "%s  </categories>\n"
      "</backup-metadata>\n";

constexpr const gchar *category_template = "    <%s>\n"
                                           "      <size>%ld</size>\n"
                                           "      <number-of-files>%d</number-of-files>\n"
                                           "    </%s>\n";

/* The categories each metadata format records, in the order they are written. */
constexpr SfCategory format_0_categories[]
    = { SF_CATEGORY_CONTACTS,  SF_CATEGORY_EMAILS,   SF_CATEGORY_DOCUMENTS,    SF_CATEGORY_MEDIA,
        SF_CATEGORY_BOOKMARKS, SF_CATEGORY_SETTINGS, SF_CATEGORY_APPLICATIONS, SF_CATEGORY_OTHER };
constexpr SfCategory format_1_categories[] = { SF_CATEGORY_COMM_AND_CAL,
                                               SF_CATEGORY_IMAGES_AND_DOCUMENTS,
                                               SF_CATEGORY_MUSIC_AND_VIDEOS,
                                               SF_CATEGORY_BOOKMARKS,
                                               SF_CATEGORY_SETTINGS,
                                               SF_CATEGORY_APPLICATIONS,
                                               SF_CATEGORY_OTHER };
constexpr SfCategory format_2_categories[]
    = { SF_CATEGORY_CONTACTS,     SF_CATEGORY_EMAILS,      SF_CATEGORY_MESSAGING,
        SF_CATEGORY_ORGANIZER,    SF_CATEGORY_BOOKMARKS,   SF_CATEGORY_SETTINGS,
        SF_CATEGORY_APPLICATIONS, SF_CATEGORY_TAGGED_FILES };

GError *
invalid_argument_error (void)
{
  return g_error_new (G_FILE_ERROR, G_FILE_ERROR_INVAL, "Invalid argument: %s",
                      g_strerror (EINVAL));
}

/* Sizes are recorded in 32 bits: the low half of the count, as a signed number. */
glong
recorded_size (guint64 size)
{
  return (gint32)(guint32)size;
}

std::string
format_category_blocks (SfBackupInfo *info)
{
  const SfCategory *row = NULL;
  gsize row_length = 0;
  switch (info->format)
    {
    case 0:
      row = format_0_categories, row_length = G_N_ELEMENTS (format_0_categories);
      break;
    case 1:
      row = format_1_categories, row_length = G_N_ELEMENTS (format_1_categories);
      break;
    case 2:
      row = format_2_categories, row_length = G_N_ELEMENTS (format_2_categories);
      break;
    default:
      break;
    }

  std::string blocks;
  for (gsize position = 0; position < row_length; position++)
    {
      gint index = sf_category_to_index (row[position]);
      if ((info->categories & row[position]) == 0 || info->num_files[index] == 0)
        continue;
      const gchar *name = sf_category_to_string (row[position]);
      g_autofree gchar *block
          = g_strdup_printf (category_template, name, recorded_size (info->size[index]),
                             (gint)info->num_files[index], name);
      blocks += block;
    }
  return blocks;
}

/* The text without what XML cannot carry: bytes that are not UTF-8 become replacement
 * characters, and control characters other than tab, line feed and carriage return are left
 * out, so that the file always parses. */
std::string
clean_text (const gchar *text)
{
  std::string cleaned;
  if (text == NULL)
    return cleaned;
  g_autofree gchar *valid = g_utf8_make_valid (text, -1);
  for (const gchar *character = valid; *character != '\0'; character++)
    if ((guchar)*character >= 0x20 || *character == '\t' || *character == '\n'
        || *character == '\r')
      cleaned += *character;
  return cleaned;
}

/* The text as XML character data: markup characters as entity references. */
std::string
escape_text (const gchar *text)
{
  std::string escaped;
  for (char character : clean_text (text))
    {
      switch (character)
        {
        case '&':
          escaped += "&amp;";
          break;
        case '<':
          escaped += "&lt;";
          break;
        case '>':
          escaped += "&gt;";
          break;
        case '"':
          escaped += "&quot;";
          break;
        case '\'':
          escaped += "&apos;";
          break;
        default:
          escaped += character;
          break;
        }
    }
  return escaped;
}

gchar *
format_metadata (SfBackupInfo *info)
{
  guint64 total_size = 0;
  guint32 total_files = 0;
  for (gint index = 0; index < SF_CATEGORY_COUNT; index++)
    {
      total_size += info->size[index];
      total_files += info->num_files[index];
    }
  std::string device_version = escape_text (info->device_version);
  /* Notes arrive escaped already. */
  std::string notes = clean_text (info->notes);
  std::string blocks = format_category_blocks (info);
  return g_strdup_printf (metadata_template, info->format, recorded_size (total_size),
                          (gint)total_files, (glong)info->timestamp,
                          (glong)info->time_for_restoration, info->is_protected ? "true" : "false",
                          device_version.c_str (), notes.c_str (), blocks.c_str ());
}

/* Mode bits are a matter of privacy, not of the data: file systems without them (FAT memory
 * cards) refuse the change, and the backup goes on. */
void
set_mode (GFile *file, guint32 mode)
{
  g_autoptr (GError) error = NULL;
  if (!g_file_set_attribute_uint32 (file, G_FILE_ATTRIBUTE_UNIX_MODE, mode,
                                    G_FILE_QUERY_INFO_NOFOLLOW_SYMLINKS, NULL, &error))
    SF_LOG_WARNING ("Could not set the mode of %s: %s", g_file_peek_path (file), error->message);
}

/* Writes text through a replacing stream. On a failed write the stream is closed cancelled, which
 * keeps a file that was already there instead of the half-written one. */
GError *
replace_contents (GFile *file, const gchar *text)
{
  GError *error = NULL;
  g_autoptr (GFileOutputStream) stream = g_file_replace (
      file, NULL, FALSE,
      (GFileCreateFlags)(G_FILE_CREATE_PRIVATE | G_FILE_CREATE_REPLACE_DESTINATION), NULL, &error);
  if (stream == NULL)
    return error;
  set_mode (file, 0600);
  error = sf_vfs_utils_write (G_OUTPUT_STREAM (stream), text, strlen (text));
  if (error != NULL)
    {
      g_autoptr (GCancellable) cancelled = g_cancellable_new ();
      g_cancellable_cancel (cancelled);
      g_output_stream_close (G_OUTPUT_STREAM (stream), cancelled, NULL);
      return error;
    }
  g_output_stream_close (G_OUTPUT_STREAM (stream), NULL, &error);
  return error;
}

/* A base-10 signed 32-bit number, after optional leading white space and nothing after it. */
gboolean
parse_int32 (const gchar *text, gint32 *value)
{
  while (g_ascii_isspace (*text))
    text++;
  gchar *end = NULL;
  errno = 0;
  gint64 parsed = g_ascii_strtoll (text, &end, 10);
  if (end == text || *end != '\0' || errno != 0 || parsed < G_MININT32 || parsed > G_MAXINT32)
    return FALSE;
  *value = (gint32)parsed;
  return TRUE;
}

gboolean
has_name (xmlNode *node, const gchar *name)
{
  return node->type == XML_ELEMENT_NODE && strcmp ((const gchar *)node->name, name) == 0;
}

/* The category an element name names, without logging unknown names. */
SfCategory
category_named (const xmlChar *name)
{
  for (gint index = 0; index < SF_CATEGORY_COUNT; index++)
    {
      SfCategory category = sf_category_from_index (index);
      if (strcmp ((const gchar *)name, sf_category_to_string (category)) == 0)
        return category;
    }
  return SF_CATEGORY_NONE;
}

/* The values of the metadata root, before an info is made of them. */
struct Metadata
{
  gint32 format = 0;
  gint32 timestamp = 0;
  gint32 time_for_restoration = 0;
  gboolean is_protected = FALSE;
  gchar *device_version = NULL;
  gchar *notes = NULL;
  guint32 categories = 0;
  xmlNode *categories_node = NULL;

  Metadata () = default;
  Metadata (const Metadata &) = delete;
  Metadata &operator= (const Metadata &) = delete;
  ~Metadata ()
  {
    g_free (device_version);
    g_free (notes);
  }
};

gchar *
node_text (xmlNode *node)
{
  xmlChar *content = xmlNodeGetContent (node);
  gchar *text = g_strdup (content != NULL ? (const gchar *)content : "");
  xmlFree (content);
  return text;
}

/* Sizes are written as signed 32-bit numbers, so sizes of 2 GiB and more come out negative; the
 * 32 bits are taken as unsigned again. Numbers written unsigned read the same. */
gboolean
parse_size32 (const gchar *text, guint32 *value)
{
  while (g_ascii_isspace (*text))
    text++;
  gchar *end = NULL;
  errno = 0;
  gint64 parsed = g_ascii_strtoll (text, &end, 10);
  if (end == text || *end != '\0' || errno != 0 || parsed < G_MININT32 || parsed > G_MAXUINT32)
    return FALSE;
  *value = (guint32)parsed;
  return TRUE;
}

gboolean
parse_size (xmlNode *node, guint32 *value)
{
  g_autofree gchar *text = node_text (node);
  if (parse_size32 (text, value))
    return TRUE;
  SF_LOG_WARNING ("Invalid size in metadata.");
  return FALSE;
}

gboolean
parse_number (xmlNode *node, gint32 *value, const gchar *warning)
{
  g_autofree gchar *text = node_text (node);
  if (parse_int32 (text, value))
    return TRUE;
  SF_LOG_WARNING ("%s", warning);
  return FALSE;
}

guint32
parse_category_set (xmlNode *node)
{
  guint32 categories = 0;
  for (xmlNode *child = node->children; child != NULL; child = child->next)
    if (child->type == XML_ELEMENT_NODE)
      categories |= sf_category_from_string ((const gchar *)child->name);
  return categories;
}

gboolean
parse_protected (xmlNode *node, gboolean *is_protected)
{
  g_autofree gchar *text = node_text (node);
  if (strcmp (text, "true") != 0 && strcmp (text, "false") != 0)
    {
      SF_LOG_WARNING ("Invalid is-protected in metadata.");
      return FALSE;
    }
  *is_protected = strcmp (text, "true") == 0;
  return TRUE;
}

/* Reads one child of the root into metadata; FALSE rejects the backup. */
gboolean
parse_root_child (xmlNode *node, Metadata &metadata)
{
  gint32 unused = 0;
  guint32 unused_size = 0;
  if (has_name (node, "format"))
    return parse_number (node, &metadata.format, "Invalid format in metadata.");
  if (has_name (node, "size"))
    return parse_size (node, &unused_size);
  if (has_name (node, "number-of-files"))
    return parse_number (node, &unused, "Invalid number of files in metadata.");
  if (has_name (node, "timestamp"))
    return parse_number (node, &metadata.timestamp, "Invalid timestamp in metadata.");
  if (has_name (node, "time_for_restoration"))
    return parse_number (node, &metadata.time_for_restoration, "Invalid timestamp in metadata.");
  if (has_name (node, "protected"))
    return parse_protected (node, &metadata.is_protected);
  if (has_name (node, "device-version"))
    {
      g_free (metadata.device_version);
      metadata.device_version = node_text (node);
    }
  else if (has_name (node, "notes"))
    {
      g_free (metadata.notes);
      metadata.notes = node_text (node);
    }
  else if (has_name (node, "categories"))
    {
      metadata.categories = parse_category_set (node);
      metadata.categories_node = node;
    }
  return TRUE;
}

/* Stores the amounts of one category block; a malformed number ends the block there. */
void
parse_category_amounts (SfBackupInfo *info, SfCategory category, xmlNode *block)
{
  guint32 size = 0;
  gint32 num_files = 0;
  for (xmlNode *child = block->children; child != NULL; child = child->next)
    {
      if (has_name (child, "size") && !parse_size (child, &size))
        break;
      if (has_name (child, "number-of-files")
          && !parse_number (child, &num_files, "Invalid number of files in metadata."))
        break;
    }
  sf_backup_info_set_data_amount (info, category, size, (guint32)num_files);
}

SfBackupInfo *
info_from_document (GFile *directory, xmlDoc *document)
{
  xmlNode *root = xmlDocGetRootElement (document);
  if (root == NULL || !has_name (root, "backup-metadata"))
    return NULL;

  Metadata metadata;
  for (xmlNode *child = root->children; child != NULL; child = child->next)
    if (!parse_root_child (child, metadata))
      return NULL;

  SfBackupInfo *info = sf_backup_info_new (directory, metadata.timestamp, metadata.is_protected,
                                           NULL, metadata.device_version, metadata.notes,
                                           metadata.format, metadata.categories);
  info->time_for_restoration = metadata.time_for_restoration;
  if (metadata.categories_node != NULL)
    for (xmlNode *block = metadata.categories_node->children; block != NULL; block = block->next)
      {
        SfCategory category
            = block->type == XML_ELEMENT_NODE ? category_named (block->name) : SF_CATEGORY_NONE;
        if (category != SF_CATEGORY_NONE)
          parse_category_amounts (info, category, block);
      }
  if (info->format <= 0)
    g_clear_pointer (&info, sf_backup_info_unref);
  return info;
}

/* The directory's metadata document, or NULL when it has no readable one. */
xmlDoc *
read_metadata (GFile *directory)
{
  g_autoptr (GFile) file = g_file_get_child (directory, metadata_name);
  g_autofree gchar *path = g_file_get_path (file);
  if (path == NULL)
    return NULL;
  g_autoptr (GError) error = NULL;
  xmlDoc *document = sf_xml_reader_read_file (path, &error);
  if (document == NULL && g_error_matches (error, G_IO_ERROR, G_IO_ERROR_MESSAGE_TOO_LARGE))
    SF_LOG_WARNING ("Metadata file too large: %s", path);
  return document;
}

gint
compare_newest_first (gconstpointer a, gconstpointer b)
{
  gint32 first = static_cast<const SfBackupInfo *> (a)->timestamp;
  gint32 second = static_cast<const SfBackupInfo *> (b)->timestamp;
  return first < second ? 1 : first > second ? -1 : 0;
}
} // namespace

/* The directory and path operations log a missing argument as the failed precondition "FALSE". */
#define RETURN_INVALID_ARGUMENT_UNLESS(expression, value)                                          \
  G_STMT_START                                                                                     \
  {                                                                                                \
    if (G_UNLIKELY (!(expression)))                                                                \
      g_return_val_if_fail (FALSE, value);                                                         \
  }                                                                                                \
  G_STMT_END

GType
sf_backup_info_get_type (void)
{
  static gsize type_id = 0;
  if (g_once_init_enter (&type_id))
    {
      GType type = g_boxed_type_register_static (g_intern_static_string ("SfBackupInfoType"),
                                                 (GBoxedCopyFunc)sf_backup_info_ref,
                                                 (GBoxedFreeFunc)sf_backup_info_unref);
      g_once_init_leave (&type_id, type);
    }
  return type_id;
}

SfBackupInfo *
sf_backup_info_new (GFile *uri, gint32 timestamp, gboolean is_protected, const gchar *password,
                    const gchar *device_version, const gchar *notes, gint format,
                    guint32 categories)
{
  g_return_val_if_fail (uri != NULL, NULL);

  SfBackupInfo *info = g_new0 (SfBackupInfo, 1);
  info->ref_count = 1;
  info->uri = g_file_dup (uri);
  info->name = g_file_get_basename (uri);
  info->timestamp = timestamp;
  info->format = format;
  info->is_protected = is_protected;
  info->password = g_strdup (password);
  info->device_version = g_strdup (device_version);
  info->notes = g_strdup (notes);
  info->categories = categories;
  return info;
}

/* Infos travel between the main thread and the archiver's worker, so the count is atomic. */
SfBackupInfo *
sf_backup_info_ref (SfBackupInfo *info)
{
  g_return_val_if_fail (info != NULL, NULL);

  g_atomic_int_inc (&info->ref_count);
  return info;
}

void
sf_backup_info_unref (SfBackupInfo *info)
{
  g_return_if_fail (info != NULL);

  if (!g_atomic_int_dec_and_test (&info->ref_count))
    return;
  g_object_unref (info->uri);
  g_free (info->name);
  g_free (info->password);
  g_free (info->device_version);
  g_free (info->notes);
  g_free (info);
}

GFile *
sf_backup_info_get_uri (SfBackupInfo *info)
{
  g_return_val_if_fail (info != NULL, NULL);
  return info->uri;
}

const gchar *
sf_backup_info_get_name (SfBackupInfo *info)
{
  g_return_val_if_fail (info != NULL, NULL);
  return info->name;
}

gint32
sf_backup_info_get_timestamp (SfBackupInfo *info)
{
  g_return_val_if_fail (info != NULL, 0);
  return info->timestamp;
}

gint32
sf_backup_info_get_time_for_restoration (SfBackupInfo *info)
{
  g_return_val_if_fail (info != NULL, 0);
  return info->time_for_restoration;
}

gint
sf_backup_info_get_format (SfBackupInfo *info)
{
  g_return_val_if_fail (info != NULL, 0);
  return info->format;
}

gboolean
sf_backup_info_get_is_protected (SfBackupInfo *info)
{
  g_return_val_if_fail (info != NULL, FALSE);
  return info->is_protected;
}

const gchar *
sf_backup_info_get_password (SfBackupInfo *info)
{
  g_return_val_if_fail (info != NULL, NULL);
  return info->password;
}

const gchar *
sf_backup_info_get_device_version (SfBackupInfo *info)
{
  g_return_val_if_fail (info != NULL, NULL);
  return info->device_version;
}

const gchar *
sf_backup_info_get_notes (SfBackupInfo *info)
{
  g_return_val_if_fail (info != NULL, NULL);
  return info->notes;
}

gchar *
sf_backup_info_escape_text (const gchar *text)
{
  return g_strdup (escape_text (text).c_str ());
}

guint32
sf_backup_info_get_categories (SfBackupInfo *info)
{
  g_return_val_if_fail (info != NULL, 0);
  return info->categories;
}

void
sf_backup_info_set_timestamp (SfBackupInfo *info, gint32 timestamp)
{
  g_return_if_fail (info != NULL);
  info->timestamp = timestamp;
}

void
sf_backup_info_set_time_for_restoration (SfBackupInfo *info, gint32 time_for_restoration)
{
  g_return_if_fail (info != NULL);
  info->time_for_restoration = time_for_restoration;
}

void
sf_backup_info_set_is_protected (SfBackupInfo *info, gboolean is_protected)
{
  g_return_if_fail (info != NULL);
  info->is_protected = is_protected;
}

void
sf_backup_info_set_categories (SfBackupInfo *info, guint32 categories)
{
  g_return_if_fail (info != NULL);
  info->categories = categories;
}

void
sf_backup_info_set_password (SfBackupInfo *info, const gchar *password)
{
  g_return_if_fail (info != NULL);
  g_free (info->password);
  info->password = g_strdup (password);
}

void
sf_backup_info_set_data_amount (SfBackupInfo *info, SfCategory category, guint64 size,
                                guint32 num_files)
{
  g_return_if_fail (info != NULL);
  g_return_if_fail (category != SF_CATEGORY_ALL);

  gint index = sf_category_to_index (category);
  info->size[index] = size;
  info->num_files[index] = num_files;
}

void
sf_backup_info_get_data_amount (SfBackupInfo *info, SfCategory category, guint64 *size,
                                guint32 *num_files)
{
  g_return_if_fail (info != NULL);
  g_return_if_fail (category != SF_CATEGORY_ALL);

  gint index = sf_category_to_index (category);
  if (size != NULL)
    *size = info->size[index];
  if (num_files != NULL)
    *num_files = info->num_files[index];
}

void
sf_backup_info_reset_categories (SfBackupInfo *info, guint32 categories)
{
  g_return_if_fail (info != NULL);

  for (gint index = 0; index < SF_CATEGORY_COUNT; index++)
    if (categories & sf_category_from_index (index))
      {
        info->size[index] = 0;
        info->num_files[index] = 0;
      }
}

guint32
sf_backup_info_get_num_files_for_categories (SfBackupInfo *info, guint32 categories)
{
  g_return_val_if_fail (info != NULL, 0);

  guint32 total = 0;
  for (gint index = 0; index < SF_CATEGORY_COUNT; index++)
    if (categories & sf_category_from_index (index))
      total += info->num_files[index];
  return total;
}

guint64
sf_backup_info_get_size_for_categories (SfBackupInfo *info, guint32 categories)
{
  g_return_val_if_fail (info != NULL, 0);

  guint64 total = 0;
  for (gint index = 0; index < SF_CATEGORY_COUNT; index++)
    if (categories & sf_category_from_index (index))
      total += info->size[index];
  return total;
}

gchar *
sf_backup_info_get_category_archive_path (SfBackupInfo *info, SfCategory category)
{
  RETURN_INVALID_ARGUMENT_UNLESS (info != NULL, NULL);
  g_return_val_if_fail (sf_category_to_string (category) != NULL, NULL);

  g_autofree gchar *directory = g_file_get_path (info->uri);
  g_autofree gchar *file_name = g_strdup_printf ("%s.zip", sf_category_to_string (category));
  return g_build_filename (directory, file_name, NULL);
}

GError *
sf_backup_info_write_metadata (SfBackupInfo *info)
{
  RETURN_INVALID_ARGUMENT_UNLESS (info != NULL, invalid_argument_error ());

  g_autofree gchar *text = format_metadata (info);
  g_autoptr (GFile) file = g_file_get_child (info->uri, metadata_name);
  GError *error = replace_contents (file, text);
  if (error != NULL)
    return error;
  /* The card may be pulled out right after a backup. */
  for (gint round = 0; round < 3; round++)
    sync ();
  return NULL;
}

SfBackupInfo *
sf_backup_info_new_from_directory (GFile *directory)
{
  g_return_val_if_fail (directory != NULL, NULL);

  xmlDoc *document = read_metadata (directory);
  if (document == NULL)
    return NULL;
  SfBackupInfo *info = info_from_document (directory, document);
  xmlFreeDoc (document);
  return info;
}

GList *
sf_backup_info_list_get (GFile *backups_dir)
{
  g_return_val_if_fail (backups_dir != NULL, NULL);

  g_autoptr (GFileEnumerator) enumerator = g_file_enumerate_children (
      backups_dir, G_FILE_ATTRIBUTE_STANDARD_TYPE "," G_FILE_ATTRIBUTE_STANDARD_NAME,
      G_FILE_QUERY_INFO_NONE, NULL, NULL);
  if (enumerator == NULL)
    return NULL;

  GList *list = NULL;
  GFileInfo *child_info = NULL;
  while (g_file_enumerator_iterate (enumerator, &child_info, NULL, NULL, NULL) && child_info)
    {
      if (g_file_info_get_file_type (child_info) != G_FILE_TYPE_DIRECTORY)
        continue;
      g_autoptr (GFile) child = g_file_enumerator_get_child (enumerator, child_info);
      SfBackupInfo *info = sf_backup_info_new_from_directory (child);
      if (info != NULL)
        list = g_list_prepend (list, info);
    }
  return g_list_sort (list, compare_newest_first);
}

SfBackupInfo *
sf_backup_info_list_get_by_name (GFile *root_uri, const gchar *name)
{
  g_return_val_if_fail (root_uri != NULL, NULL);
  g_return_val_if_fail (name != NULL, NULL);

  /* Only a child of root: a name that climbs out or down names no backup. */
  if (*name == '\0' || strchr (name, '/') != NULL || strcmp (name, ".") == 0
      || strcmp (name, "..") == 0)
    return NULL;
  g_autoptr (GFile) directory = g_file_get_child (root_uri, name);
  return sf_backup_info_new_from_directory (directory);
}

void
sf_backup_info_list_free (GList *list)
{
  g_list_free_full (list, (GDestroyNotify)sf_backup_info_unref);
}

GError *
sf_backup_info_create_dir (SfBackupInfo *info)
{
  RETURN_INVALID_ARGUMENT_UNLESS (info != NULL, invalid_argument_error ());

  GError *error = NULL;
  if (g_file_make_directory (info->uri, NULL, &error))
    {
      set_mode (info->uri, 0700);
      return NULL;
    }
  if (g_error_matches (error, G_IO_ERROR, G_IO_ERROR_EXISTS)
      && g_file_query_file_type (info->uri, G_FILE_QUERY_INFO_NONE, NULL) == G_FILE_TYPE_DIRECTORY)
    g_clear_error (&error);
  return error;
}

GError *
sf_backup_info_remove_dir (SfBackupInfo *info)
{
  RETURN_INVALID_ARGUMENT_UNLESS (info != NULL, invalid_argument_error ());

  g_autofree gchar *path = g_file_get_path (info->uri);
  if (path == NULL)
    return invalid_argument_error ();
  GError *error = NULL;
  sf_tree_removal_remove (path, NULL, &error);
  /* The backups directory goes too once its last backup is gone; otherwise it stays. */
  g_autoptr (GFile) parent = g_file_get_parent (info->uri);
  if (parent != NULL)
    g_file_delete (parent, NULL, NULL);
  return error;
}
