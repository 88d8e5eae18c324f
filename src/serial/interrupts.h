// What may cut a port write short while it waits for the line: the
// movement's interrupts (signals on POSIX, console events on Windows). The
// movement catches them and answers here; the port only asks.
#ifndef PTMOVE_SERIAL_INTERRUPTS_H_
#define PTMOVE_SERIAL_INTERRUPTS_H_

#include <string>

#ifndef _WIN32
#include <signal.h>
#endif

namespace ptmove {

class Interrupts {
 public:
  virtual ~Interrupts() = default;

  /// Whether an interrupt has come.
  virtual bool interrupted() const = 0;

  /// The interrupt that came, as users know it: "SIGTERM", "Ctrl+C".
  virtual std::string interruptName() const = 0;

#ifdef _WIN32
  /// An event that is set when an interrupt comes.
  virtual void* interruptEvent() const = 0;
#else
  /// The signal mask under which a blocking call (ppoll) lets the caught
  /// signals in, so that an interrupt ends it.
  virtual const sigset_t* catchMask() const = 0;
#endif
};

}  // namespace ptmove

#endif  // PTMOVE_SERIAL_INTERRUPTS_H_
