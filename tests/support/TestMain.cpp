// Test executables run with a QApplication on Qt's offscreen platform unless told otherwise,
// and with a state folder of their own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include "platform/ProcessEnd.h"

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
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
