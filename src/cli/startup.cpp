// What the start does the same way on every platform.

#include <cstdio>
#include <cstdlib>
#include <new>

#include "startup.h"

namespace ptmove {

namespace {

// The memory set aside: the one state the allocator's handler must reach.
void* reserve = nullptr;

void onOutOfMemory() {
  if (reserve != nullptr) {
    std::free(reserve);
    reserve = nullptr;  // the failed allocation is tried again
  } else {
    std::set_new_handler(nullptr);  // the next failure throws
  }
}

}  // namespace

void reserveMemory() {
  // Enough for the run's messages and for the exception that reports
  // the shortage.
  constexpr std::size_t kReserve = 256 * 1024;
  reserve = std::malloc(kReserve);
  if (reserve == nullptr) {
    std::fputs("ptmove: out of memory\n", stderr);
    std::fflush(stderr);
    std::_Exit(0);
  }
  std::set_new_handler(onOutOfMemory);
}

}  // namespace ptmove
