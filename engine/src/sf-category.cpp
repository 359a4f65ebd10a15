#include "sf-category.h"

#include "sf-log.h"

namespace
{
struct CategoryNames
{
  const gchar *internal;
  const gchar *display;
};

constexpr CategoryNames category_names[SF_CATEGORY_COUNT] = {
  { "contacts", "Contacts" },
  { "emails", "E-mail" },
  { "messaging", "Messaging" },
  { "organizer", "Organizer" },
  { "bookmarks", "Bookmarks" },
  { "settings", "Settings" },
  { "applications", "Application list" },
  { "tagged_files", "Tagged files" },
  { "comm_and_cal", "Comm. and calendar" },
  { "images_and_documents", "Images and documents" },
  { "music_and_videos", "Music and videos" },
  { "other", "Other" },
  { "documents", "Documents" },
  { "media", "Media" },
};

/* Categories after "applications" cannot be named in application configuration files. */
constexpr gint last_config_index = 6;

/* The index of a single known category, or -1. */
gint
single_category_index (SfCategory category)
{
  for (gint index = 0; index < SF_CATEGORY_COUNT; index++)
    if (category == (1 << index))
      return index;
  return -1;
}
} // namespace

gint
sf_category_to_index (SfCategory category)
{
  gint index = single_category_index (category);
  return index < 0 ? sf_category_to_index (SF_CATEGORY_OTHER) : index;
}

SfCategory
sf_category_from_index (gint index)
{
  if (index < 0 || index >= SF_CATEGORY_COUNT)
    return SF_CATEGORY_OTHER;
  return (SfCategory)(1 << index);
}

const gchar *
sf_category_get_display_name (SfCategory category)
{
  gint index = single_category_index (category);
  return index < 0 ? "" : category_names[index].display;
}

const gchar *
sf_category_to_string (SfCategory category)
{
  gint index = single_category_index (category);
  return index < 0 ? NULL : category_names[index].internal;
}

SfCategory
sf_category_from_string (const gchar *name)
{
  for (gint index = 0; name != NULL && index < SF_CATEGORY_COUNT; index++)
    if (g_strcmp0 (name, category_names[index].internal) == 0)
      return sf_category_from_index (index);
  SF_LOG_WARNING ("Invalid category");
  return SF_CATEGORY_NONE;
}

gint
sf_category_get_last_config_index (void)
{
  return last_config_index;
}
