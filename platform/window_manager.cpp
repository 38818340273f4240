#include "platform/window_manager.h"

#include <QGuiApplication>

#if defined(DUORAMIC_HAS_XCB) && QT_CONFIG(xcb)
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

namespace {

struct FreeReply {
  void operator()(void* reply) const noexcept { std::free(reply); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

xcb_atom_t ExistingAtom(xcb_connection_t* c, const char* name) {
  Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 1, static_cast<uint16_t>(std::strlen(name)), name),
      nullptr));
  return reply ? reply->atom : XCB_ATOM_NONE;
}

// The atoms (or window ids) a property of `window` holds.
Reply<xcb_get_property_reply_t> Property(xcb_connection_t* c,
                                         xcb_window_t window,
                                         xcb_atom_t property,
                                         xcb_atom_t type) {
  return Reply<xcb_get_property_reply_t>(xcb_get_property_reply(
      c, xcb_get_property(c, 0, window, property, type, 0, 4096), nullptr));
}

std::span<const uint32_t> Values(xcb_get_property_reply_t* reply) {
  if (!reply || reply->format != 32) return {};
  return {static_cast<const uint32_t*>(xcb_get_property_value(reply)),
          static_cast<size_t>(xcb_get_property_value_length(reply)) / 4};
}

}  // namespace

bool WindowManagerTakesFullScreen() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                      : nullptr;
  xcb_connection_t* c = x11 ? x11->connection() : nullptr;
  if (!c) return false;
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  xcb_atom_t check = ExistingAtom(c, "_NET_SUPPORTING_WM_CHECK");
  xcb_atom_t supported = ExistingAtom(c, "_NET_SUPPORTED");
  xcb_atom_t fullScreen = ExistingAtom(c, "_NET_WM_STATE_FULLSCREEN");
  if (!screen || !check || !supported || !fullScreen) return false;
  // The manager's check window names itself; a manager that has gone
  // leaves the root's property pointing at a window that is no more.
  auto onRoot = Property(c, screen->root, check, XCB_ATOM_WINDOW);
  if (Values(onRoot.get()).empty()) return false;
  xcb_window_t wm = Values(onRoot.get())[0];
  auto onCheck = Property(c, wm, check, XCB_ATOM_WINDOW);
  if (Values(onCheck.get()).empty() || Values(onCheck.get())[0] != wm)
    return false;
  auto atoms = Property(c, screen->root, supported, XCB_ATOM_ATOM);
  for (uint32_t atom : Values(atoms.get()))
    if (atom == fullScreen) return true;
  return false;
}

#else

bool WindowManagerTakesFullScreen() { return false; }

#endif
