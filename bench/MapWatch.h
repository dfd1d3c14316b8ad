#pragma once
// Watches the X screen for a program's top-level window being mapped. There is no window
// manager on the test screen, so top-level windows are the root's own children and their
// MapNotify reaches a client that listens on the root.

#include <sys/types.h>

#include <cstdint>
#include <string>

struct xcb_connection_t;

namespace tallowen::bench {

struct MappedWindow {
  uint32_t id = 0;
  int width = 0, height = 0;
  double at = 0;  // steady clock, seconds
};

class MapWatch {
 public:
  MapWatch();  // listens from here on
  ~MapWatch();
  MapWatch(const MapWatch&) = delete;
  MapWatch& operator=(const MapWatch&) = delete;

  bool ok() const { return connection_ != nullptr; }
  // The next window mapped by `pid` whose title is `title`; id 0 after the timeout.
  MappedWindow waitFor(pid_t pid, const std::string& title, double timeoutSeconds);

 private:
  xcb_connection_t* connection_ = nullptr;
  uint32_t pidAtom_ = 0, nameAtom_ = 0, utf8Atom_ = 0;
};

}  // namespace tallowen::bench
