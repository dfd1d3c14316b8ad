#pragma once

#include "platform/Seams.h"

namespace tallowen {

// The real message boxes, dialogs, programs, clock, help and encoders.
Seams SystemSeams();

}  // namespace tallowen
