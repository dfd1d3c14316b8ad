# Included from tests/CMakeLists.txt after find_package(GTest) and include(GoogleTest).
add_executable(test_settings ${CMAKE_CURRENT_LIST_DIR}/test_settings.cpp)
target_link_libraries(test_settings PRIVATE tallowen_settings GTest::gtest Qt6::Core)
# Its own folder: the modINI test creates and removes setting.ini beside the executable.
set_target_properties(test_settings PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/test_settings_dir)
gtest_discover_tests(test_settings DISCOVERY_MODE PRE_TEST)
