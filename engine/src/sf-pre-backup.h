#pragma once

#include "sf-category.h"

G_BEGIN_DECLS

/* Runs the backup script of every application taking part in categories, one after another. */
void sf_pre_backup_execute (SfCategory categories);

G_END_DECLS
