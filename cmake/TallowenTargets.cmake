# How every target of the project is compiled: warnings always, the sanitizers when asked.
# Set on targets through one interface library, so that nothing leaks into code we only
# include (Qt's, FFmpeg's) and a target says itself what it is built with.
add_library(tallowen_build_flags INTERFACE)
target_compile_options(tallowen_build_flags INTERFACE -Wall -Wextra)
# Hardening is the package's business: debian/rules gives dpkg-buildflags' flags, and
# scripts/build.sh the same to the default build.
if(TALLOWEN_SANITIZE)
  target_compile_options(tallowen_build_flags INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(tallowen_build_flags INTERFACE -fsanitize=address,undefined)
endif()

# Every library and program of the project goes through here.
function(tallowen_flags target)
  target_link_libraries(${target} PRIVATE tallowen_build_flags)
endfunction()

function(tallowen_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  tallowen_flags(${name})
endfunction()

function(tallowen_executable name)
  add_executable(${name} ${ARGN})
  tallowen_flags(${name})
endfunction()
