// Sets an environment variable for the life of the object, then puts back
// what was there, so that no test leaves its settings behind for the next.
#ifndef PTMOVE_TESTS_SCOPED_VARIABLE_H_
#define PTMOVE_TESTS_SCOPED_VARIABLE_H_

#include <stdlib.h>

#include <optional>
#include <string>

namespace ptmove::testsupport {

class ScopedVariable {
 public:
  /// Sets `name` to `value`, or unsets it when `value` is nullopt.
  ScopedVariable(std::string name, const std::optional<std::string>& value)
      : name_(std::move(name)) {
    if (const char* previous = getenv(name_.c_str())) {
      previous_ = previous;
    }
    set(value);
  }
  ~ScopedVariable() { set(previous_); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  void set(const std::optional<std::string>& value) {
    if (value) {
      setenv(name_.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }

  std::string name_;
  std::optional<std::string> previous_;
};

/// Points COM<port> at `path` for the life of the object.
inline ScopedVariable bindPort(int port, const std::string& path) {
  return ScopedVariable("PTMOVE_COM" + std::to_string(port), path);
}

}  // namespace ptmove::testsupport

#endif  // PTMOVE_TESTS_SCOPED_VARIABLE_H_
