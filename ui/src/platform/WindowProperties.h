#pragma once

class QWidget;

/* The X11 window properties of a window that shows a running operation: the window manager
 * neither pings it (a busy main loop must not get it killed) nor lets it be minimised, and its
 * whole area takes touches. Nothing happens on other platforms. GUI thread only. */
namespace WindowProperties
{
/* Drops "_NET_WM_PING" from the window's protocols; the list is rewritten only when it held it. */
void removePingProtocol (QWidget *window);
/* "_TESSELTOUCH_CANNOT_MINIMIZE" = 1 and "_TESSELTOUCH_CUSTOM_REGION" = 0, 0, width, height. */
void setOperationProperties (QWidget *window);
/* All three. */
void applyToOperationWindow (QWidget *window);
} // namespace WindowProperties
