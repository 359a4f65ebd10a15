#include "exfat-card.h"

#include <glib.h>
#include <fcntl.h>
#include <ftw.h>
#include <glib/gstdio.h>
#include <signal.h>
#include <unistd.h>
#include <sys/mount.h>

#include <vector>

namespace
{
/* Runs argv and collects what it printed; FALSE with the reason when it failed. */
gboolean
spawn (const std::vector<std::string> &arguments, std::string *output, std::string *reason)
{
  std::vector<gchar *> argv;
  for (const std::string &argument : arguments)
    argv.push_back (const_cast<gchar *> (argument.c_str ()));
  argv.push_back (NULL);
  g_autofree gchar *out = NULL;
  g_autofree gchar *err = NULL;
  gint status = 0;
  g_autoptr (GError) error = NULL;
  if (!g_spawn_sync (NULL, argv.data (), NULL, G_SPAWN_SEARCH_PATH, NULL, NULL, &out, &err, &status,
                     &error))
    {
      *reason = error->message;
      return FALSE;
    }
  if (!g_spawn_check_wait_status (status, NULL))
    {
      *reason = arguments[0] + ": " + (err != NULL ? err : "failed");
      return FALSE;
    }
  if (output != NULL)
    *output = g_strstrip (out);
  return TRUE;
}

gboolean
alive (pid_t pid)
{
  return pid > 0 && kill (pid, 0) == 0;
}

/* Waits up to timeout_ms for pid to end. */
gboolean
wait_gone (pid_t pid, gint timeout_ms)
{
  for (gint waited = 0; alive (pid); waited += 20)
    {
      if (waited >= timeout_ms)
        return FALSE;
      g_usleep (20000);
    }
  return TRUE;
}

/* Drops what the page cache holds of a file, so that reading it again asks the card. */
int
forget_file (const char *path, const struct stat *, int type, struct FTW *)
{
  if (type != FTW_F)
    return 0;
  int fd = open (path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0)
    {
      posix_fadvise (fd, 0, 0, POSIX_FADV_DONTNEED);
      close (fd);
    }
  return 0;
}
} // namespace

ExfatCard::ExfatCard (const std::string &path, const std::string &size)
    : path_ (path), image_ (path + ".img")
{
  g_mkdir_with_parents (path_.c_str (), 0755);
  if (!spawn ({ "truncate", "-s", size, image_ }, NULL, &reason_)
      || !spawn ({ "mkfs.exfat", "-L", "CARD", image_ }, NULL, &reason_))
    return;
  plug (false);
}

ExfatCard::~ExfatCard ()
{
  if (mounted_ && umount2 (path_.c_str (), 0) != 0)
    umount2 (path_.c_str (), MNT_DETACH);
  mounted_ = false;
  stop_daemon ();
  g_unlink (image_.c_str ());
  g_rmdir (path_.c_str ());
}

pid_t
ExfatCard::find_daemon (const std::string &device) const
{
  GDir *proc = g_dir_open ("/proc", 0, NULL);
  if (proc == NULL)
    return -1;
  pid_t found = -1;
  while (const gchar *name = g_dir_read_name (proc))
    {
      if (!g_ascii_isdigit (name[0]))
        continue;
      g_autofree gchar *file = g_strdup_printf ("/proc/%s/cmdline", name);
      g_autofree gchar *cmdline = NULL;
      gsize length = 0;
      if (!g_file_get_contents (file, &cmdline, &length, NULL))
        continue;
      std::vector<std::string> argv;
      for (gsize start = 0; start < length; start += argv.back ().size () + 1)
        argv.emplace_back (cmdline + start);
      if (argv.size () >= 3 && g_str_has_suffix (argv[0].c_str (), "mount.exfat-fuse")
          && argv[argv.size () - 2] == device)
        found = (pid_t)atoi (name);
    }
  g_dir_close (proc);
  return found;
}

void
ExfatCard::stop_daemon ()
{
  /* The daemon ends by itself once its mount is gone and no longer busy. */
  if (!wait_gone (daemon_, 5000))
    {
      kill (daemon_, SIGKILL);
      wait_gone (daemon_, 5000);
    }
  daemon_ = -1;
}

bool
ExfatCard::plug (bool read_only)
{
  if (mounted_)
    umount2 (path_.c_str (), MNT_DETACH);
  mounted_ = false;
  stop_daemon ();
  std::string device;
  if (!spawn ({ "losetup", "-f", "--show", image_ }, &device, &reason_))
    return false;
  std::vector<std::string> mount{ "mount.exfat-fuse" };
  if (read_only)
    mount.insert (mount.end (), { "-o", "ro" });
  mount.insert (mount.end (), { device, path_ });
  mounted_ = spawn (mount, NULL, &reason_);
  if (mounted_)
    daemon_ = find_daemon (device);
  /* Busy while the daemon holds it, so the device is only marked to detach when it lets go. */
  std::string ignored;
  spawn ({ "losetup", "-d", device }, NULL, &ignored);
  if (mounted_ && daemon_ < 0)
    reason_ = "the FUSE daemon of " + device + " was not found";
  return mounted_ && daemon_ > 0;
}

void
ExfatCard::pull ()
{
  /* A card that is gone serves nothing, not even what was read from it a moment ago. */
  nftw (path_.c_str (), forget_file, 16, FTW_PHYS | FTW_MOUNT);
  if (alive (daemon_))
    kill (daemon_, SIGKILL);
  wait_gone (daemon_, 5000);
}

void
ExfatCard::unmount ()
{
  if (mounted_)
    umount2 (path_.c_str (), MNT_DETACH);
  mounted_ = false;
}

bool
ExfatCard::remount (bool read_only)
{
  return spawn ({ "mount", "-o", read_only ? "remount,ro" : "remount,rw", path_ }, NULL, &reason_);
}
