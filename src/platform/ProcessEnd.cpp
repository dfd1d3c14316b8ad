#include "platform/ProcessEnd.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace tallowen {

void EndProcess(int status) {
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
#if defined(__SANITIZE_ADDRESS__)
  __lsan_do_leak_check();  // ends the process itself when it finds a leak
#endif
  std::_Exit(status);
}

}  // namespace tallowen
