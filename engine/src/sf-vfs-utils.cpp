#include "sf-vfs-utils.h"

#include "sf-file-entry.h"
#include "sf-log.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace
{
const gint temp_name_attempts = 100;
const gint temp_name_length = 8;

GError *
invalid_argument_error (void)
{
  return g_error_new (G_FILE_ERROR, G_FILE_ERROR_INVAL, "Invalid argument: %s",
                      g_strerror (EINVAL));
}

/* Identifies a directory, so that a symbolic link back to one being walked is not walked again
 * (which would never end). */
struct DirectoryId
{
  dev_t device;
  ino_t inode;
  bool operator== (const DirectoryId &) const = default;
};

/* The regular files at and below a path, links followed, each directory entered at most once on
 * the way down. The file list and the count walk the same way: on descriptors, one fstatat a
 * file, since both run over every file before every backup. */
class TreeWalk
{
public:
  typedef std::function<void (const std::string &path, const struct stat &info)> Visit;

  explicit TreeWalk (Visit visit) : visit_ (std::move (visit))
  {
  }

  /* path is absolute, without a trailing slash except for the root. */
  void walk (const std::string &path)
  {
    struct stat info;
    if (stat (path.c_str (), &info) != 0)
      return;
    path_ = path;
    below (AT_FDCWD, path.c_str (), info);
  }

private:
  void below (gint parent_fd, const gchar *name, const struct stat &info)
  {
    if (S_ISREG (info.st_mode))
      {
        visit_ (path_, info);
        return;
      }
    if (!S_ISDIR (info.st_mode))
      return;
    gint fd = openat (parent_fd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat opened;
    if (fd < 0 || fstat (fd, &opened) != 0)
      {
        SF_LOG_DEBUG ("Couldn't read, skip: %s\n", g_strerror (errno));
        if (fd >= 0)
          close (fd);
        return;
      }
    if (!enter ({ opened.st_dev, opened.st_ino }))
      {
        close (fd);
        return;
      }
    children (fd);
    ancestors_.pop_back ();
  }

  /* Takes fd. */
  void children (gint fd)
  {
    DIR *directory = fdopendir (fd);
    if (directory == NULL)
      {
        SF_LOG_DEBUG ("Couldn't read, skip: %s\n", g_strerror (errno));
        close (fd);
        return;
      }
    gsize length = path_.size ();
    while (const struct dirent *child = readdir (directory))
      {
        if (strcmp (child->d_name, ".") == 0 || strcmp (child->d_name, "..") == 0)
          continue;
        struct stat info;
        if (fstatat (dirfd (directory), child->d_name, &info, 0) != 0)
          continue;
        if (path_.back () != '/')
          path_ += '/';
        path_ += child->d_name;
        below (dirfd (directory), child->d_name, info);
        path_.resize (length);
      }
    closedir (directory);
  }

  bool enter (const DirectoryId &id)
  {
    for (const DirectoryId &ancestor : ancestors_)
      if (ancestor == id)
        return false;
    ancestors_.push_back (id);
    return true;
  }

  Visit visit_;
  /* The directories from the walk's start down to the current one. */
  std::vector<DirectoryId> ancestors_;
  std::string path_;
};

/* What a file entry promises its users: the content type is guessed from the name alone, which
 * reads nothing of the file. */
GFileInfo *
entry_info (const gchar *name, const struct stat &info)
{
  GFileInfo *file_info = g_file_info_new ();
  g_file_info_set_file_type (file_info, G_FILE_TYPE_REGULAR);
  g_file_info_set_name (file_info, name);
  g_file_info_set_size (file_info, info.st_size);
  g_file_info_set_attribute_uint64 (file_info, G_FILE_ATTRIBUTE_TIME_MODIFIED, info.st_mtime);
  g_file_info_set_attribute_uint32 (file_info, G_FILE_ATTRIBUTE_TIME_MODIFIED_USEC,
                                    info.st_mtim.tv_nsec / 1000);
  g_file_info_set_attribute_uint32 (file_info, G_FILE_ATTRIBUTE_UNIX_MODE, info.st_mode);
  g_autofree gchar *content_type = g_content_type_guess (name, NULL, 0, NULL);
  g_file_info_set_attribute_string (file_info, G_FILE_ATTRIBUTE_STANDARD_FAST_CONTENT_TYPE,
                                    content_type);
  return file_info;
}

SfFileEntry *
new_entry (const std::string &path, const struct stat &info)
{
  SfFileEntry *entry = g_new (SfFileEntry, 1);
  entry->uri = g_file_new_for_path (path.c_str ());
  entry->info = entry_info (path.c_str () + path.rfind ('/') + 1, info);
  return entry;
}

/* The name patterns are matched against: a local file's path, which is its parse name when it is
 * valid UTF-8, without building the parse name for every file. */
const gchar *
match_name (GFile *file, gchar *&parse_name)
{
  const gchar *path = g_file_peek_path (file);
  if (path != NULL && g_utf8_validate (path, -1, NULL))
    return path;
  g_free (parse_name);
  parse_name = g_file_get_parse_name (file);
  return parse_name;
}

void
remove_excluded_entries (std::vector<SfFileEntry *> &entries, GSList *exclusion_patterns)
{
  SF_LOG_DEBUG ("Removing all excluded URIs found (%d items)\n",
                g_slist_length (exclusion_patterns));
  std::vector<GPatternSpec *> patterns;
  for (GSList *item = exclusion_patterns; item != NULL; item = item->next)
    {
      SF_LOG_DEBUG ("\tRemoving entries with pattern:'%s'\n", (const gchar *)item->data);
      patterns.push_back (g_pattern_spec_new ((const gchar *)item->data));
    }

  g_autofree gchar *parse_name = NULL;
  auto excluded = [&patterns, &parse_name] (SfFileEntry *entry) {
    const gchar *name = match_name (entry->uri, parse_name);
    for (GPatternSpec *pattern : patterns)
      if (g_pattern_spec_match_string (pattern, name))
        {
          SF_LOG_DEBUG ("\tRemoving entry:'%s'\n", name);
          sf_file_entry_free (entry);
          return true;
        }
    return false;
  };
  if (!patterns.empty ())
    entries.erase (std::remove_if (entries.begin (), entries.end (), excluded), entries.end ());
  for (GPatternSpec *pattern : patterns)
    g_pattern_spec_free (pattern);
}

/* Sorts the entries by path and frees all but the first of each path (include paths may overlap):
 * a folder's files are then packed together, so reading them and putting them back on restore go
 * folder by folder instead of jumping between folders. */
void
sort_unique (std::vector<SfFileEntry *> &entries)
{
  std::stable_sort (entries.begin (), entries.end (), [] (SfFileEntry *first, SfFileEntry *second) {
    return strcmp (g_file_peek_path (first->uri), g_file_peek_path (second->uri)) < 0;
  });
  auto same_path = [] (SfFileEntry *first, SfFileEntry *second) {
    return strcmp (g_file_peek_path (first->uri), g_file_peek_path (second->uri)) == 0;
  };
  auto kept = entries.begin ();
  for (auto entry = entries.begin (); entry != entries.end (); ++entry)
    if (entry == entries.begin () || !same_path (*entry, *(kept - 1)))
      *kept++ = *entry;
    else
      sf_file_entry_free (*entry);
  entries.erase (kept, entries.end ());
}

gchar
random_letter (void)
{
  gchar first = g_random_boolean () ? 'A' : 'a';
  return (gchar)(first + g_random_int_range (0, 26));
}

gchar *
random_temp_name (void)
{
  gchar *name = g_new (gchar, temp_name_length + 1);
  for (gint index = 0; index < temp_name_length; index++)
    name[index] = random_letter ();
  name[temp_name_length] = '\0';
  return name;
}

GError *
set_attributes (const gchar *path, GFileInfo *info)
{
  g_autoptr (GFile) file = g_file_new_for_path (path);
  GError *error = NULL;
  g_file_set_attributes_from_info (file, info, G_FILE_QUERY_INFO_NONE, NULL, &error);
  return error;
}
} // namespace

GError *
sf_vfs_utils_write (GOutputStream *output, gconstpointer buffer, gint64 size)
{
  g_return_val_if_fail (output != NULL, invalid_argument_error ());
  g_return_val_if_fail (buffer != NULL, invalid_argument_error ());

  const guint8 *bytes = static_cast<const guint8 *> (buffer);
  while (size > 0)
    {
      GError *error = NULL;
      gssize written = g_output_stream_write (output, bytes, size, NULL, &error);
      if (written < 0)
        return error;
      bytes += written;
      size -= written;
    }
  return NULL;
}

gboolean
sf_vfs_utils_write_fd (gint fd, gconstpointer buffer, gsize size)
{
  const guint8 *bytes = static_cast<const guint8 *> (buffer);
  while (size > 0)
    {
      gssize written = write (fd, bytes, size);
      if (written < 0 && errno == EINTR)
        continue;
      if (written <= 0)
        {
          if (written == 0)
            errno = EIO;
          return FALSE;
        }
      bytes += written;
      size -= written;
    }
  return TRUE;
}

GSList *
sf_vfs_utils_build_file_list (GSList *include_paths, GSList *exclusion_patterns)
{
  guint32 walked_files = 0;
  guint64 walked_size = 0;
  return sf_vfs_utils_build_file_list_counted (include_paths, exclusion_patterns, &walked_files,
                                               &walked_size);
}

GSList *
sf_vfs_utils_build_file_list_counted (GSList *include_paths, GSList *exclusion_patterns,
                                      guint32 *walked_files, guint64 *walked_size)
{
  g_return_val_if_fail (walked_files != NULL, NULL);
  g_return_val_if_fail (walked_size != NULL, NULL);

  std::vector<SfFileEntry *> entries;
  TreeWalk walk ([&entries] (const std::string &path, const struct stat &info) {
    entries.push_back (new_entry (path, info));
  });

  SF_LOG_DEBUG ("Creating list for included URIs (%d items)\n", g_slist_length (include_paths));
  SF_LOG_DEBUG ("\tGetting FULL URI list (from %d URIs)\n", g_slist_length (include_paths));
  for (GSList *item = include_paths; item != NULL; item = item->next)
    {
      SF_LOG_DEBUG ("\tChecking file:'%s'\n", (const gchar *)item->data);
      g_autofree gchar *path = g_strcompress ((const gchar *)item->data);
      /* Named as a GFile names it, so that one file reached from two include paths is one
       * entry. */
      g_autoptr (GFile) file = g_file_new_for_path (path);
      walk.walk (g_file_peek_path (file));
    }

  sort_unique (entries);
  *walked_files = entries.size ();
  *walked_size = 0;
  for (SfFileEntry *entry : entries)
    *walked_size += g_file_info_get_size (entry->info);
  remove_excluded_entries (entries, exclusion_patterns);

  SF_LOG_DEBUG ("Creating final URI list\n");
  GSList *list = NULL;
  for (auto entry = entries.rbegin (); entry != entries.rend (); ++entry)
    list = g_slist_prepend (list, *entry);
  SF_LOG_DEBUG ("Finished final URI list (%d items)\n", g_slist_length (list));
  return list;
}

void
sf_vfs_utils_count_files (GSList *paths, guint32 *num_files, guint64 *size)
{
  g_return_if_fail (num_files != NULL);
  g_return_if_fail (size != NULL);

  guint32 files = 0;
  guint64 bytes = 0;
  TreeWalk walk ([&files, &bytes] (const std::string &, const struct stat &info) {
    files++;
    bytes += info.st_size;
  });
  for (GSList *item = paths; item != NULL; item = item->next)
    walk.walk ((const gchar *)item->data);
  *num_files = files;
  *size = bytes;
}

GError *
sf_vfs_utils_remove_directory (GFile *directory)
{
  g_return_val_if_fail (directory != NULL, invalid_argument_error ());

  GError *last_error = NULL;
  g_autoptr (GFileEnumerator) children = g_file_enumerate_children (
      directory,
      G_FILE_ATTRIBUTE_STANDARD_TYPE "," G_FILE_ATTRIBUTE_STANDARD_NAME
                                     "," G_FILE_ATTRIBUTE_ACCESS_CAN_DELETE,
      G_FILE_QUERY_INFO_NOFOLLOW_SYMLINKS, NULL, &last_error);
  while (children != NULL)
    {
      g_autoptr (GError) error = NULL;
      g_autoptr (GFileInfo) info = g_file_enumerator_next_file (children, NULL, &error);
      if (info == NULL)
        {
          /* An enumerator that failed once does not recover; keep its error. */
          if (error != NULL)
            {
              g_clear_error (&last_error);
              last_error = g_steal_pointer (&error);
            }
          break;
        }
      g_autoptr (GFile) child = g_file_enumerator_get_child (children, info);
      if (g_file_info_get_file_type (info) == G_FILE_TYPE_DIRECTORY)
        {
          error = sf_vfs_utils_remove_directory (child);
          if (error == NULL)
            g_file_delete (child, NULL, &error);
        }
      else if (g_file_info_get_attribute_boolean (info, G_FILE_ATTRIBUTE_ACCESS_CAN_DELETE))
        g_file_delete (child, NULL, &error);
      if (error != NULL)
        {
          g_clear_error (&last_error);
          last_error = g_steal_pointer (&error);
        }
    }
  return last_error;
}

GError *
sf_vfs_utils_uri_get_file_type (GFile *file, GFileType *type)
{
  g_return_val_if_fail (file != NULL, invalid_argument_error ());
  g_return_val_if_fail (type != NULL, invalid_argument_error ());

  GError *error = NULL;
  g_autoptr (GFileInfo) info = g_file_query_info (file, G_FILE_ATTRIBUTE_STANDARD_TYPE,
                                                  G_FILE_QUERY_INFO_NONE, NULL, &error);
  if (info != NULL)
    *type = g_file_info_get_file_type (info);
  return error;
}

GError *
sf_vfs_utils_create_temp_file (GOutputStream **output, GFile *directory, guint32 mode, GFile **file)
{
  g_return_val_if_fail (output != NULL, invalid_argument_error ());
  g_return_val_if_fail (directory != NULL, invalid_argument_error ());
  g_return_val_if_fail (file != NULL, invalid_argument_error ());

  *output = NULL;
  *file = NULL;
  for (gint attempt = 0; attempt < temp_name_attempts; attempt++)
    {
      g_autofree gchar *name = random_temp_name ();
      g_autoptr (GFile) candidate = g_file_get_child (directory, name);
      GError *error = NULL;
      GFileOutputStream *stream = g_file_create (candidate, G_FILE_CREATE_NONE, NULL, &error);
      if (stream == NULL)
        {
          if (g_error_matches (error, G_IO_ERROR, G_IO_ERROR_EXISTS))
            {
              g_clear_error (&error);
              continue;
            }
          return error;
        }
      if (!g_file_set_attribute_uint32 (candidate, G_FILE_ATTRIBUTE_UNIX_MODE, mode,
                                        G_FILE_QUERY_INFO_NONE, NULL, &error))
        {
          g_object_unref (stream);
          g_file_delete (candidate, NULL, NULL);
          return error;
        }
      *output = G_OUTPUT_STREAM (stream);
      *file = g_steal_pointer (&candidate);
      return NULL;
    }
  /* Returning nothing at all here would read as success without a file. */
  g_autofree gchar *directory_name = g_file_get_parse_name (directory);
  return g_error_new (G_IO_ERROR, G_IO_ERROR_EXISTS, "No free temporary file name found in %s",
                      directory_name);
}

GError *
sf_vfs_utils_uri_get_timestamp (GFile *file, gint64 *seconds)
{
  g_return_val_if_fail (file != NULL, invalid_argument_error ());
  g_return_val_if_fail (seconds != NULL, invalid_argument_error ());

  GError *error = NULL;
  g_autoptr (GFileInfo) info = g_file_query_info (
      file, G_FILE_ATTRIBUTE_TIME_MODIFIED "," G_FILE_ATTRIBUTE_TIME_MODIFIED_USEC,
      G_FILE_QUERY_INFO_NONE, NULL, &error);
  if (info != NULL)
    *seconds = (gint64)g_file_info_get_attribute_uint64 (info, G_FILE_ATTRIBUTE_TIME_MODIFIED);
  return error;
}

GError *
sf_vfs_utils_uri_set_mode (const gchar *path, guint32 mode)
{
  g_return_val_if_fail (path != NULL, invalid_argument_error ());

  g_autoptr (GFileInfo) info = g_file_info_new ();
  g_file_info_set_attribute_uint32 (info, G_FILE_ATTRIBUTE_UNIX_MODE, mode);
  return set_attributes (path, info);
}

GError *
sf_vfs_utils_uri_set_timestamp_and_mode (const gchar *path, gint64 seconds, guint32 mode)
{
  g_return_val_if_fail (path != NULL, invalid_argument_error ());

  g_autoptr (GFileInfo) info = g_file_info_new ();
  if (seconds > 0)
    {
      g_file_info_set_attribute_uint64 (info, G_FILE_ATTRIBUTE_TIME_MODIFIED, (guint64)seconds);
      g_file_info_set_attribute_uint32 (info, G_FILE_ATTRIBUTE_TIME_MODIFIED_USEC, 0);
    }
  g_file_info_set_attribute_uint32 (info, G_FILE_ATTRIBUTE_UNIX_MODE, mode);
  return set_attributes (path, info);
}
