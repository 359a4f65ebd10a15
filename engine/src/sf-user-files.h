#pragma once

#include "sf-category.h"

#include <glib.h>

G_BEGIN_DECLS

/* A plain record, used by one thread at a time. */

/* Files the user chose by hand, kept apart from the configured locations, by category index. */
typedef struct
{
  GSList *files[SF_CATEGORY_COUNT];
  guint64 sizes[SF_CATEGORY_COUNT];
  guint32 num_files[SF_CATEGORY_COUNT];
} SfUserFiles;

/* Returns a record to free (sf_user_files_free). */
SfUserFiles *sf_user_files_new (guint32 categories);
guint64 sf_user_files_get_size (SfUserFiles *files, guint32 categories);
guint32 sf_user_files_get_num_files (SfUserFiles *files, guint32 categories);
void sf_user_files_free (SfUserFiles *files);

G_END_DECLS
