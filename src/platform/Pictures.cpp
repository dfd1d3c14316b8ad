#include "platform/Pictures.h"

#include <cstring>

// The pictures' sources are written by resources/draw_pictures.py.
#include "resources/icon.xpm"
#include "resources/pause.xpm"
#include "resources/pause_grey.xpm"
#include "resources/play.xpm"
#include "resources/play_grey.xpm"
#include "resources/record.xpm"
#include "resources/record_grey.xpm"
#include "resources/settings.xpm"
#include "resources/stop.xpm"
#include "resources/stop_grey.xpm"
#include "resources/volume.xpm"

namespace tallowen {

QPixmap Picture(const char* name) {
  static const struct {
    const char* name;
    const char* const* xpm;
  } pictures[] = {
      {"icon", icon_xpm},
      {"pause", pause_xpm},
      {"pause_grey", pause_grey_xpm},
      {"play", play_xpm},
      {"play_grey", play_grey_xpm},
      {"record", record_xpm},
      {"record_grey", record_grey_xpm},
      {"settings", settings_xpm},
      {"stop", stop_xpm},
      {"stop_grey", stop_grey_xpm},
      {"volume", volume_xpm},
  };
  for (const auto& p : pictures)
    if (std::strcmp(p.name, name) == 0) return QPixmap(p.xpm);
  return QPixmap();
}

}  // namespace tallowen
