#pragma once

#include "sf-category.h"
#include "sf-restore-failure.h"

#include <glib-object.h>

G_BEGIN_DECLS

typedef struct _SfBackend SfBackend;

#define SF_TYPE_ARCHIVER (sf_archiver_get_type ())
G_DECLARE_DERIVABLE_TYPE (SfArchiver, sf_archiver, SF, ARCHIVER, GObject)

/* Packs or unpacks on a worker thread of its own and reports to the backend through events. */
struct _SfArchiverClass
{
  GObjectClass parent_class;

  void (*pack_thread_func) (SfArchiver *archiver);
  void (*unpack_thread_func) (SfArchiver *archiver);
};

gboolean sf_archiver_start_pack (SfArchiver *archiver);
gboolean sf_archiver_start_unpack (SfArchiver *archiver);

/* Written by the main thread, polled by the worker between files and chunks. */
void sf_archiver_cancel (SfArchiver *archiver);
gboolean sf_archiver_is_cancelled (SfArchiver *archiver);

void sf_archiver_set_backend (SfArchiver *archiver, SfBackend *backend);
void sf_archiver_set_operation (SfArchiver *archiver, guint operation);
SfBackend *_sf_archiver_get_backend (SfArchiver *archiver);

void sf_archiver_set_total_files (SfArchiver *archiver, guint32 total_files);
guint32 sf_archiver_get_total_files (SfArchiver *archiver);
void sf_archiver_set_total_size (SfArchiver *archiver, guint64 total_size);
guint64 sf_archiver_get_total_size (SfArchiver *archiver);
void sf_archiver_set_processed_files (SfArchiver *archiver, guint32 processed_files);
guint32 sf_archiver_get_processed_files (SfArchiver *archiver);
void sf_archiver_add_processed_files (SfArchiver *archiver, guint32 files);
void sf_archiver_set_processed_size (SfArchiver *archiver, guint64 processed_size);
guint64 sf_archiver_get_processed_size (SfArchiver *archiver);
void sf_archiver_add_processed_size (SfArchiver *archiver, guint64 size);
void sf_archiver_set_current_category (SfArchiver *archiver, SfCategory category);
void sf_archiver_set_restore_failure (SfArchiver *archiver, SfRestoreFailure *failure);
SfRestoreFailure *sf_archiver_get_restore_failure (SfArchiver *archiver);
void sf_archiver_set_restore_written_categories (SfArchiver *archiver, SfCategory categories);
SfCategory sf_archiver_get_restore_written_categories (SfArchiver *archiver);

/* Events to the backend. */
void sf_archiver_update_progress (SfArchiver *archiver);
void sf_archiver_send_finalizing (SfArchiver *archiver);
void sf_archiver_send_error (SfArchiver *archiver, const GError *error);
void sf_archiver_send_finished (SfArchiver *archiver);
void sf_archiver_send_cancelled (SfArchiver *archiver);

G_END_DECLS
