/* The list and show commands: what the metadata of backups records. */

#include "safehold-archive.h"

#include "sf-i18n.h"

#include <cstdio>

namespace
{
std::string
category_names (SfBackupInfo *info)
{
  std::string names;
  guint32 categories = sf_backup_info_get_categories (info);
  for (gint index = 0; index < SF_CATEGORY_COUNT; index++)
    {
      SfCategory category = sf_category_from_index (index);
      if ((categories & category) == 0)
        continue;
      if (!names.empty ())
        names += ",";
      names += sf_category_to_string (category);
    }
  return names.empty () ? "-" : names;
}

const gchar *
or_dash (const gchar *text)
{
  return text != NULL && text[0] != '\0' ? text : "-";
}

std::string
format_size (guint64 size)
{
  g_autofree gchar *text = g_format_size (size);
  return text;
}

/* "1 byte", "1234 bytes". */
std::string
exact_size (guint64 size)
{
  g_autofree gchar *number = g_strdup_printf ("%" G_GUINT64_FORMAT, size);
  g_autofree gchar *text = g_strdup_printf (
      sf_i18n_translate_plural ("%s byte", "%s bytes", (gulong)MIN (size, G_MAXULONG)), number);
  return text;
}

void
print_backup_line (SfBackupInfo *info, int name_width)
{
  guint32 categories = sf_backup_info_get_categories (info);
  guint32 files = sf_backup_info_get_num_files_for_categories (info, categories);
  printf ("%-*s  %s  %10s  %6u %-5s  %s%s\n", name_width,
          archive_escape (sf_backup_info_get_name (info)).c_str (),
          archive_format_time (sf_backup_info_get_timestamp (info)).c_str (),
          format_size (sf_backup_info_get_size_for_categories (info, categories)).c_str (), files,
          sf_i18n_translate_plural ("file", "files", files), category_names (info).c_str (),
          sf_backup_info_get_is_protected (info) ? "  protected" : "");
}
} // namespace

std::string
archive_escape (const gchar *text)
{
  std::string shown;
  for (const gchar *at = text != NULL ? text : ""; *at != '\0'; at++)
    {
      guchar byte = (guchar)*at;
      /* C1 controls arrive as UTF-8 U+0080..U+009F: 0xc2 then 0x80..0x9f. */
      gboolean c1 = byte == 0xc2 && (guchar)at[1] >= 0x80 && (guchar)at[1] <= 0x9f;
      if (byte >= 0x20 && byte != 0x7f && !c1)
        {
          shown += (gchar)byte;
          continue;
        }
      if (c1)
        byte = (guchar) * ++at;
      g_autofree gchar *escape = g_strdup_printf ("\\x%02x", byte);
      shown += escape;
    }
  return shown;
}

std::string
archive_format_time (gint64 seconds)
{
  g_autoptr (GDateTime) time = g_date_time_new_from_unix_local (seconds);
  if (time == NULL)
    return "-";
  g_autofree gchar *text = g_date_time_format (time, "%Y-%m-%d %H:%M");
  return text;
}

SfBackupInfo *
archive_open_backup (const std::string &directory)
{
  if (!g_file_test (directory.c_str (), G_FILE_TEST_IS_DIR))
    {
      fprintf (stderr,
               "safehold-archive: %s: no such directory; give the directory of one backup "
               "(it holds \"backup.metadata\")\n",
               directory.c_str ());
      return NULL;
    }
  g_autoptr (GFile) file = g_file_new_for_commandline_arg (directory.c_str ());
  SfBackupInfo *info = sf_backup_info_new_from_directory (file);
  if (info == NULL)
    fprintf (stderr,
             "safehold-archive: %s: not a backup: it holds no readable \"backup.metadata\"; give "
             "the directory of one backup, or run \"safehold-archive list\" on the folder above\n",
             directory.c_str ());
  return info;
}

int
archive_list (const ArchiveOptions &options)
{
  g_autofree gchar *default_dir = g_build_filename (g_get_home_dir (), "MyDocs", ".backups", NULL);
  std::string directory = options.arguments.empty () ? default_dir : options.arguments[0];
  if (!g_file_test (directory.c_str (), G_FILE_TEST_IS_DIR))
    {
      fprintf (stderr,
               "safehold-archive: %s: no such directory; give the folder that holds the "
               "backups (\".backups\" on the memory card)\n",
               directory.c_str ());
      return ARCHIVE_STATUS_USAGE;
    }
  g_autoptr (GFile) file = g_file_new_for_commandline_arg (directory.c_str ());
  GList *backups = sf_backup_info_list_get (file);
  if (backups == NULL)
    fprintf (stderr, "safehold-archive: no backups in %s\n", directory.c_str ());
  int name_width = 0;
  for (GList *item = backups; item != NULL; item = item->next)
    name_width = MAX (
        name_width,
        (int)g_utf8_strlen (
            archive_escape (sf_backup_info_get_name ((SfBackupInfo *)item->data)).c_str (), -1));
  for (GList *item = backups; item != NULL; item = item->next)
    print_backup_line ((SfBackupInfo *)item->data, name_width);
  sf_backup_info_list_free (backups);
  return ARCHIVE_STATUS_OK;
}

int
archive_show (const ArchiveOptions &options)
{
  g_autoptr (SfBackupInfo) info = archive_open_backup (options.arguments[0]);
  if (info == NULL)
    return ARCHIVE_STATUS_USAGE;
  gint32 restored = sf_backup_info_get_time_for_restoration (info);
  guint32 categories = sf_backup_info_get_categories (info);
  g_autofree gchar *path = g_file_get_path (sf_backup_info_get_uri (info));
  printf ("Name:           %s\n", archive_escape (sf_backup_info_get_name (info)).c_str ());
  printf ("Directory:      %s\n", archive_escape (path).c_str ());
  printf ("Format:         %d\n", sf_backup_info_get_format (info));
  printf ("Time:           %s\n",
          archive_format_time (sf_backup_info_get_timestamp (info)).c_str ());
  printf ("Last restored:  %s\n", restored > 0 ? archive_format_time (restored).c_str () : "never");
  printf ("Device version: %s\n",
          archive_escape (or_dash (sf_backup_info_get_device_version (info))).c_str ());
  printf ("Protected:      %s\n", sf_backup_info_get_is_protected (info) ? "yes" : "no");
  printf ("Notes:          %s\n",
          archive_escape (or_dash (sf_backup_info_get_notes (info))).c_str ());
  guint32 total_files = sf_backup_info_get_num_files_for_categories (info, categories);
  printf (sf_i18n_translate_plural ("Total:          %s in %u file\n",
                                    "Total:          %s in %u files\n", total_files),
          format_size (sf_backup_info_get_size_for_categories (info, categories)).c_str (),
          total_files);
  printf ("Categories:\n");
  for (gint index = 0; index < SF_CATEGORY_COUNT; index++)
    {
      SfCategory category = sf_category_from_index (index);
      if ((categories & category) == 0)
        continue;
      guint64 size = 0;
      guint32 files = 0;
      sf_backup_info_get_data_amount (info, category, &size, &files);
      printf ("  %-22s %10s  %6u %-5s  (%s)\n", sf_category_to_string (category),
              format_size (size).c_str (), files, sf_i18n_translate_plural ("file", "files", files),
              exact_size (size).c_str ());
    }
  return ARCHIVE_STATUS_OK;
}
