// The program's standard output and standard error as C++ streams that
// keep writing whatever the caller made of them: a descriptor left
// non-blocking is waited for as a blocking one would be, instead of losing
// every later line after one refused write. Implemented once per platform.
#ifndef PTMOVE_CLI_CONSOLE_STREAM_H_
#define PTMOVE_CLI_CONSOLE_STREAM_H_

#include <memory>
#include <ostream>

namespace ptmove {

class Console {
 public:
  Console();
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  std::ostream& out();
  std::ostream& err();

 private:
  struct Streams;
  std::unique_ptr<Streams> streams_;
};

}  // namespace ptmove

#endif  // PTMOVE_CLI_CONSOLE_STREAM_H_
