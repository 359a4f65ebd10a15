#pragma once

#include "sf-category.h"
#include "sf-restore-failure.h"

#include <glib-object.h>

G_BEGIN_DECLS

/* An archiver is made, set up and started on the main thread; afterwards only the cancel, the read
 * of the cancel flag and the getters after the end come from there, and everything else from its
 * worker. */

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

/* The worker holds its own reference until it ends. Main thread. */
gboolean sf_archiver_start_pack (SfArchiver *archiver);
/* The worker holds its own reference until it ends. Main thread. */
gboolean sf_archiver_start_unpack (SfArchiver *archiver);

/* Written by the main thread, polled by the worker between files and chunks; also ends a script the
 * worker is running. Main thread. */
void sf_archiver_cancel (SfArchiver *archiver);
/* Any thread. */
gboolean sf_archiver_is_cancelled (SfArchiver *archiver);

/* Takes its own reference to backend. Main thread, before the start. */
void sf_archiver_set_backend (SfArchiver *archiver, SfBackend *backend);
/* The number its events carry. Main thread, before the start. */
void sf_archiver_set_operation (SfArchiver *archiver, guint operation);
/* Borrowed, for the life of the archiver. Worker thread. */
SfBackend *_sf_archiver_get_backend (SfArchiver *archiver);

/* The counts below may be changed by several workers of one operation at once. */
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
/* Takes back what a category that was not completed had added. Worker thread. */
void sf_archiver_take_back_processed (SfArchiver *archiver, guint32 files, guint64 size);
/* Takes its own reference. Worker thread. */
void sf_archiver_set_restore_failure (SfArchiver *archiver, SfRestoreFailure *failure);
/* Borrowed: valid until it is set again or the archiver is finalized. */
SfRestoreFailure *sf_archiver_get_restore_failure (SfArchiver *archiver);
void sf_archiver_set_restore_written_categories (SfArchiver *archiver, SfCategory categories);
SfCategory sf_archiver_get_restore_written_categories (SfArchiver *archiver);

/* Events to the backend. Worker thread. */
void sf_archiver_update_progress (SfArchiver *archiver);
void sf_archiver_send_finalizing (SfArchiver *archiver);
/* Copies error. Worker thread. */
void sf_archiver_send_error (SfArchiver *archiver, const GError *error);
void sf_archiver_send_finished (SfArchiver *archiver);
void sf_archiver_send_cancelled (SfArchiver *archiver);

G_END_DECLS
