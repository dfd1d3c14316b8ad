// Test executables run with a QApplication on Qt's offscreen platform unless told otherwise.
#include <gtest/gtest.h>

#include <QApplication>

#include "platform/ProcessEnd.h"

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int status = 0;
  {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    status = RUN_ALL_TESTS();
  }
  tallowen::EndProcess(status);
}
