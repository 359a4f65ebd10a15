/* Saves a picture of the top-level window of a running process:
 *   safehold-screenshot PID FILE.png
 * The demo uses it to show what the program displayed; it finds the windows by the process id
 * they declare (_NET_WM_PID) and takes the screen area they cover. */

#include <QGuiApplication>
#include <QPixmap>
#include <QRect>
#include <QScreen>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

namespace
{
/* The process id a window declares, or 0. */
unsigned long
windowPid (Display *display, Window window, Atom pidAtom)
{
  Atom type = None;
  int format = 0;
  unsigned long count = 0, remaining = 0;
  unsigned char *data = nullptr;
  unsigned long pid = 0;
  if (XGetWindowProperty (display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                          &count, &remaining, &data)
          == Success
      && data != nullptr && format == 32 && count == 1)
    pid = *reinterpret_cast<unsigned long *> (data);
  if (data != nullptr)
    XFree (data);
  return pid;
}

/* Adds to area the on-screen rectangle of every mapped window below parent that belongs to pid:
 * the main window and any dialog or note it shows. */
void
collectWindows (Display *display, Window parent, unsigned long pid, Atom pidAtom, QRect *area)
{
  Window root = 0, up = 0, *children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree (display, parent, &root, &up, &children, &count))
    return;
  for (unsigned int index = 0; index < count; index++)
    {
      XWindowAttributes attributes;
      if (!XGetWindowAttributes (display, children[index], &attributes)
          || attributes.map_state != IsViewable)
        continue;
      if (windowPid (display, children[index], pidAtom) == pid)
        {
          int x = 0, y = 0;
          Window child = 0;
          XTranslateCoordinates (display, children[index], root, 0, 0, &x, &y, &child);
          *area |= QRect (x, y, attributes.width, attributes.height);
        }
      collectWindows (display, children[index], pid, pidAtom, area);
    }
  if (children != nullptr)
    XFree (children);
}
} // namespace

int
main (int argc, char **argv)
{
  if (argc != 3)
    {
      std::fprintf (stderr, "usage: safehold-screenshot PID FILE.png\n");
      return 2;
    }
  qputenv ("QT_QPA_PLATFORM", "xcb");
  QGuiApplication application (argc, argv);
  Display *display = XOpenDisplay (nullptr);
  if (display == nullptr)
    {
      std::fprintf (stderr, "safehold-screenshot: no X display\n");
      return 1;
    }
  QRect area;
  collectWindows (display, DefaultRootWindow (display), std::strtoul (argv[1], nullptr, 10),
                  XInternAtom (display, "_NET_WM_PID", False), &area);
  XCloseDisplay (display);
  if (area.isEmpty ())
    {
      std::fprintf (stderr, "safehold-screenshot: process %s shows no window\n", argv[1]);
      return 1;
    }
  QPixmap picture = QGuiApplication::primaryScreen ()->grabWindow (0, area.x (), area.y (),
                                                                   area.width (), area.height ());
  if (picture.isNull () || !picture.save (QString::fromLocal8Bit (argv[2]), "PNG"))
    {
      std::fprintf (stderr, "safehold-screenshot: could not save %s\n", argv[2]);
      return 1;
    }
  return 0;
}
