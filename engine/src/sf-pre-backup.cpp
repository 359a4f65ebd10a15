#include "sf-pre-backup.h"

#include "sf-utils.h"

void
sf_pre_backup_execute (SfCategory categories)
{
  _sf_utils_run_application_scripts (categories, NULL);
}
