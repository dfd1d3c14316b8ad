// Test executables run with a QApplication on Qt's offscreen platform unless told otherwise,
// and with a state folder of their own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "platform/ProcessEnd.h"

namespace {

bool runsLiveTests(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--gtest_filter=", 15) == 0 && std::strstr(argv[i], "Live."))
      return true;
  return false;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // A run that has tests against the clock beside fast ones lowers the fast ones, so that
  // they never hold up a test microphone or a player.
  if (const int lower = qEnvironmentVariableIntValue("TALLOWEN_FAST_TESTS_NICE"); lower > 0 && !runsLiveTests(argc, argv))
    if (::nice(lower) == -1) std::perror("nice");
  int status = 0;
  {
    // The journal of recordings in progress lives in the user's state folder: each test
    // executable keeps its own, so that no test leaves entries in the real one (a test
    // that needs a clean one sets its own on top).
    QTemporaryDir state;
    if (state.isValid()) qputenv("XDG_STATE_HOME", state.path().toUtf8());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    status = RUN_ALL_TESTS();
  }
  tallowen::EndProcess(status);
}
