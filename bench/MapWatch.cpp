#include "MapWatch.h"

#include <poll.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

#include "Child.h"

namespace tallowen::bench {

namespace {

uint32_t atom(xcb_connection_t* c, const char* name) {
  xcb_intern_atom_reply_t* r =
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
  const uint32_t a = r ? r->atom : 0;
  std::free(r);
  return a;
}

std::string property(xcb_connection_t* c, uint32_t window, uint32_t name, uint32_t type) {
  xcb_get_property_reply_t* r =
      xcb_get_property_reply(c, xcb_get_property(c, 0, window, name, type, 0, 1024), nullptr);
  std::string value;
  if (r) value.assign(static_cast<const char*>(xcb_get_property_value(r)), size_t(xcb_get_property_value_length(r)));
  std::free(r);
  return value;
}

}  // namespace

MapWatch::MapWatch() {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) {
    xcb_disconnect(c);
    return;
  }
  connection_ = c;
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_request_check(c, xcb_change_window_attributes_checked(c, screen->root, XCB_CW_EVENT_MASK, &mask));
  pidAtom_ = atom(c, "_NET_WM_PID");
  nameAtom_ = atom(c, "_NET_WM_NAME");
  utf8Atom_ = atom(c, "UTF8_STRING");
}

MapWatch::~MapWatch() {
  if (connection_) xcb_disconnect(connection_);
}

MappedWindow MapWatch::waitFor(pid_t pid, const std::string& title, double timeoutSeconds) {
  MappedWindow found;
  if (!connection_) return found;
  const double deadline = now() + timeoutSeconds;
  pollfd p{xcb_get_file_descriptor(connection_), POLLIN, 0};
  while (now() < deadline) {
    xcb_generic_event_t* event = xcb_poll_for_event(connection_);
    if (!event) {
      poll(&p, 1, 20);
      continue;
    }
    // Timestamped on arrival, before the round trips that identify the window.
    const double at = now();
    if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY) {
      const uint32_t w = reinterpret_cast<xcb_map_notify_event_t*>(event)->window;
      const std::string pidBytes = property(connection_, w, pidAtom_, XCB_ATOM_CARDINAL);
      uint32_t owner = 0;
      if (pidBytes.size() >= 4) std::memcpy(&owner, pidBytes.data(), 4);
      if (owner == uint32_t(pid) && property(connection_, w, nameAtom_, utf8Atom_) == title) {
        xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, w), nullptr);
        found = MappedWindow{w, g ? g->width : 0, g ? g->height : 0, at};
        std::free(g);
        std::free(event);
        return found;
      }
    }
    std::free(event);
  }
  return found;
}

}  // namespace tallowen::bench
