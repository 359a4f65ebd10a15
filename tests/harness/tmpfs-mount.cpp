#include "tmpfs-mount.h"

#include <cerrno>
#include <glib.h>
#include <glib/gstdio.h>
#include <sys/mount.h>

TmpfsMount::TmpfsMount (const std::string &size, const std::string &options, const std::string &at)
{
  if (at.empty ())
    {
      g_autoptr (GError) error = NULL;
      g_autofree gchar *dir = g_dir_make_tmp ("tmpfs-XXXXXX", &error);
      if (dir == NULL)
        {
          reason_ = error->message;
          return;
        }
      path_ = dir;
      made_ = true;
    }
  else if (g_mkdir_with_parents (at.c_str (), 0755) != 0)
    {
      reason_ = g_strerror (errno);
      return;
    }
  else
    path_ = at;
  std::string all_options = "size=" + size + ",mode=0755" + (options.empty () ? "" : "," + options);
  if (mount ("tmpfs", path_.c_str (), "tmpfs", 0, all_options.c_str ()) != 0)
    {
      reason_ = g_strerror (errno);
      return;
    }
  mounted_ = true;
}

TmpfsMount::~TmpfsMount ()
{
  if (mounted_)
    umount2 (path_.c_str (), MNT_DETACH);
  if (made_)
    g_rmdir (path_.c_str ());
}
