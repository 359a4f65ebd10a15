#include "WindowProperties.h"

#include "Tracing.h"

#include <QGuiApplication>
#include <QWidget>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace
{
/* The display and native window of widget's window, or false off X11. */
bool
nativeWindow (QWidget *widget, Display **display, Window *window)
{
  if (widget == nullptr || QGuiApplication::platformName () != QLatin1String ("xcb"))
    return false;
  auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application> ();
  if (x11 == nullptr || x11->display () == nullptr)
    return false;
  *display = x11->display ();
  *window = widget->window ()->winId ();
  return true;
}

void
setCardinals (Display *display, Window window, const char *name, const long *values, int count)
{
  Atom property = XInternAtom (display, name, False);
  XChangeProperty (display, window, property, XA_CARDINAL, 32, PropModeReplace,
                   reinterpret_cast<const unsigned char *> (values), count);
}
} // namespace

void
WindowProperties::removePingProtocol (QWidget *widget)
{
  Display *display;
  Window window;
  if (!nativeWindow (widget, &display, &window))
    return;
  Atom ping = XInternAtom (display, "_NET_WM_PING", False);
  Atom *protocols = nullptr;
  int count = 0;
  if (XGetWMProtocols (display, window, &protocols, &count) == 0)
    return;
  int kept = 0;
  for (int i = 0; i < count; i++)
    if (protocols[i] != ping)
      protocols[kept++] = protocols[i];
  if (kept != count)
    {
      TRACE ("Removing _NET_WM_PING from the window protocols");
      XSetWMProtocols (display, window, protocols, kept);
      XFlush (display);
    }
  XFree (protocols);
}

void
WindowProperties::setOperationProperties (QWidget *widget)
{
  Display *display;
  Window window;
  if (!nativeWindow (widget, &display, &window))
    return;
  QWidget *top = widget->window ();
  const long cannotMinimize[] = { 1 };
  const long region[] = { 0, 0, top->width (), top->height () };
  setCardinals (display, window, "_TESSELTOUCH_CANNOT_MINIMIZE", cannotMinimize, 1);
  setCardinals (display, window, "_TESSELTOUCH_CUSTOM_REGION", region, 4);
  XFlush (display);
}

void
WindowProperties::applyToOperationWindow (QWidget *widget)
{
  removePingProtocol (widget);
  setOperationProperties (widget);
}
