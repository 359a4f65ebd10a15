#pragma once

#include <string>

#include <sys/types.h>

/* A memory card as the phone has it: an exFAT image on a loop device mounted through FUSE on a
 * directory (created when missing). No links, no modes, names compared without case. The loop
 * device detaches itself once the FUSE daemon lets go of it, so a crashed test leaves no device
 * behind; the destructor unmounts, stops the daemon and removes the image and the directory.
 * Mounting needs root; where it is refused, mounted() is false and reason() says why. */
class ExfatCard
{
public:
  /* size as truncate(1) takes it; the file system itself takes about 2 MiB of it. */
  explicit ExfatCard (const std::string &path, const std::string &size = "16M");
  ~ExfatCard ();
  ExfatCard (const ExfatCard &) = delete;
  ExfatCard &operator= (const ExfatCard &) = delete;

  bool mounted () const
  {
    return mounted_ && daemon_ > 0;
  }
  const std::string &path () const
  {
    return path_;
  }
  const std::string &reason () const
  {
    return reason_;
  }

  /* The card pulled out: the FUSE daemon is killed, every later access fails (ENOTCONN) and the
   * mount stays until unmount(). */
  void pull ();
  /* The card taken away from its directory at once, busy or not (a lazy unmount). */
  void unmount ();
  /* The card put back (after pull() or unmount()): the same image mounted again, read-only when
   * asked. False, with reason(), when that failed. */
  bool plug (bool read_only = false);
  /* Remounts the mounted card read-only or writable again. */
  bool remount (bool read_only);

private:
  pid_t find_daemon (const std::string &device) const;
  void stop_daemon ();

  std::string path_;
  std::string image_;
  std::string reason_;
  pid_t daemon_ = -1;
  bool mounted_ = false;
};

/* In a test body: skips the test when the card could not be mounted. */
#define SKIP_UNLESS_CARD(card)                                                                     \
  if (!(card).mounted ())                                                                          \
  GTEST_SKIP () << "cannot mount an exFAT card: " << (card).reason ()
