#pragma once

namespace tallowen {

// Ends the process once everything of ours is closed and on disk, without the static
// destructors. Qt 6.4's PulseAudio client disconnects from the sound server in one of them
// without holding its loop's lock, and libpulse then aborts now and again, more so when a
// device comes or goes at that moment. Sanitized builds check for leaks first, as they
// would have among those destructors.
[[noreturn]] void EndProcess(int status);

}  // namespace tallowen
