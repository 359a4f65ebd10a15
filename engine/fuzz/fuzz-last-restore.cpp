/* The record of the last restore in the home folder, read at start-up to report it. */

#include "sf-restore-failure.h"
#include "sf-utils.h"

#include "fuzz-support.h"

namespace
{
std::string record;
}

extern "C" int
LLVMFuzzerInitialize (int *, char ***)
{
  record = fuzz_scratch_dir () + "/.safehold/last-restore.xml";
  return 0;
}

extern "C" int
LLVMFuzzerTestOneInput (const uint8_t *data, size_t size)
{
  fuzz_write_file (record, data, size);
  SfRestoreFailure *failure = NULL;
  SfCategory written = SF_CATEGORY_NONE;
  gint64 restored_size = 0;
  if (!sf_utils_read_last_restore (&failure, &written, &restored_size))
    {
      if (failure != NULL)
        abort ();
      return 0;
    }
  if (failure != NULL)
    {
      for (guint32 category = 1; category <= SF_CATEGORY_ALL; category <<= 1)
        if (sf_restore_failure_has_category (failure, (SfCategory)category))
          {
            gint reason = sf_restore_failure_get_category_reason (failure, (SfCategory)category);
            sf_restore_failure_reason_to_string (reason);
          }
      sf_restore_failure_unref (failure);
    }
  return 0;
}
