#pragma once

#include <clocale>

/* Switches the calling thread to a UTF-8 character set while it lives, so that ZIP entry names
 * pass the archive library unchanged whatever the process locale. The library converts names
 * between UTF-8 and the locale's character set and drops a name it cannot convert (any non-ASCII
 * name under the C locale). */
class Utf8Scope
{
public:
  Utf8Scope () : saved_ (locale () != (locale_t)0 ? uselocale (locale ()) : (locale_t)0)
  {
  }
  ~Utf8Scope ()
  {
    if (saved_ != (locale_t)0)
      uselocale (saved_);
  }
  Utf8Scope (const Utf8Scope &) = delete;
  Utf8Scope &operator= (const Utf8Scope &) = delete;

private:
  static locale_t locale ()
  {
    static locale_t utf8 = newlocale (LC_CTYPE_MASK, "C.UTF-8", (locale_t)0);
    return utf8;
  }
  locale_t saved_;
};
