/* A backup's permanent file list from a card, read once per restore. */

#include "sf-permanent-file-list.h"

#include "fuzz-support.h"

#include <cstring>

namespace
{
std::string backup_dir;
}

extern "C" int
LLVMFuzzerInitialize (int *, char ***)
{
  backup_dir = fuzz_scratch_dir () + "/.backups/Backup0";
  return 0;
}

extern "C" int
LLVMFuzzerTestOneInput (const uint8_t *data, size_t size)
{
  fuzz_write_file (backup_dir + "/permanent_file_list.xml", data, size);
  GSList *list = sf_backend_load_permanent_file_list (backup_dir.c_str ());
  /* The restore compares every text with paths on the device. */
  static volatile size_t length_sink;
  for (GSList *link = list; link != NULL; link = link->next)
    {
      const SfPermanentFile *entry = static_cast<const SfPermanentFile *> (link->data);
      length_sink = length_sink + (entry->name != NULL ? strlen (entry->name) : 0)
                    + (entry->fullpath != NULL ? strlen (entry->fullpath) : 0);
    }
  sf_backend_free_permanent_file_list (list);
  return 0;
}
