#pragma once

#include "sf-category.h"

G_BEGIN_DECLS

/* Runs the backup script of every application taking part in categories, one after another. Blocks
 * while the scripts run; a cancel of the calling worker ends the running one and skips the rest.
 * Worker thread. */
void sf_pre_backup_execute (SfCategory categories);

G_END_DECLS
