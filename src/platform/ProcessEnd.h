#pragma once

namespace tallowen {

// Ends the process once everything of ours is closed and on disk, without the static
// destructors: some libraries' (sound server clients among them) tear down threads of
// their own there and have been seen to abort. Sanitized builds check for leaks first, as
// they would have among those destructors.
[[noreturn]] void EndProcess(int status);

}  // namespace tallowen

class QCoreApplication;

namespace tallowen {

// SIGTERM, SIGINT and SIGHUP (a logout, a shutdown, Ctrl+C in the terminal) end the
// program as its own 終了 does, so that a recording running is completed rather than left
// for the next start to mend. Call once, with the application running the main loop.
void EndOnTerminationSignals(QCoreApplication& app);

}  // namespace tallowen
