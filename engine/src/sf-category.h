#pragma once

#include <glib.h>

G_BEGIN_DECLS

/* Every function may run on any thread; the texts returned are static and never freed. */

/* Content categories as bit flags; the bit position is the category's index. */
typedef enum
{
  SF_CATEGORY_NONE = 0,
  SF_CATEGORY_CONTACTS = 1 << 0,
  SF_CATEGORY_EMAILS = 1 << 1,
  SF_CATEGORY_MESSAGING = 1 << 2,
  SF_CATEGORY_ORGANIZER = 1 << 3,
  SF_CATEGORY_BOOKMARKS = 1 << 4,
  SF_CATEGORY_SETTINGS = 1 << 5,
  SF_CATEGORY_APPLICATIONS = 1 << 6,
  SF_CATEGORY_TAGGED_FILES = 1 << 7,
  SF_CATEGORY_COMM_AND_CAL = 1 << 8,
  SF_CATEGORY_IMAGES_AND_DOCUMENTS = 1 << 9,
  SF_CATEGORY_MUSIC_AND_VIDEOS = 1 << 10,
  SF_CATEGORY_OTHER = 1 << 11,
  SF_CATEGORY_DOCUMENTS = 1 << 12,
  SF_CATEGORY_MEDIA = 1 << 13,
  SF_CATEGORY_ALL = (1 << 14) - 1
} SfCategory;

#define SF_CATEGORY_COUNT 14

gint sf_category_to_index (SfCategory category);
SfCategory sf_category_from_index (gint index);
/* Static text. */
const gchar *sf_category_get_display_name (SfCategory category);
/* Static text. */
const gchar *sf_category_to_string (SfCategory category);
SfCategory sf_category_from_string (const gchar *name);
gint sf_category_get_last_config_index (void);

G_END_DECLS
