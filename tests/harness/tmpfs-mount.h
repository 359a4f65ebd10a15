#pragma once

#include <string>

/* A small tmpfs mounted on a fresh temporary directory for disk-full cases; unmounted and removed
 * on destruction. Mounting needs root; where it is refused, mounted() is false and reason() says
 * why, and the test skips itself with that message. */
class TmpfsMount
{
public:
  /* options are further mount options, such as "ro" or "nr_inodes=2"; at, when given, is the
   * folder mounted on (made when missing, left in place afterwards) instead of a fresh one. */
  explicit TmpfsMount (const std::string &size = "1M", const std::string &options = "",
                       const std::string &at = "");
  ~TmpfsMount ();
  TmpfsMount (const TmpfsMount &) = delete;
  TmpfsMount &operator= (const TmpfsMount &) = delete;

  bool mounted () const
  {
    return mounted_;
  }
  const std::string &path () const
  {
    return path_;
  }
  const std::string &reason () const
  {
    return reason_;
  }

private:
  std::string path_;
  std::string reason_;
  bool mounted_ = false;
  bool made_ = false;
};

/* In a test body: skips the test when the tmpfs could not be mounted. */
#define SKIP_UNLESS_MOUNTED(tmpfs)                                                                 \
  if (!(tmpfs).mounted ())                                                                         \
  GTEST_SKIP () << "cannot mount a tmpfs: " << (tmpfs).reason ()
