// A line to a pan-tilt receiver, whatever carries it: everything the
// movement, its stop guard and its fault handler use of a port. Every call
// that can wait takes a deadline on the steady clock, and a cancellation:
// plain values from the layer above, which knows why a call may have to end
// early. Two kinds stand behind it, chosen by makePort: a serial port
// (serial_port.h) and a serial device server on the network
// (network_port.h). Nothing above this layer sees the system's handle of
// either, or knows which one it has.
#ifndef PTMOVE_SERIAL_PORT_H_
#define PTMOVE_SERIAL_PORT_H_

#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#ifndef _WIN32
#include <signal.h>
#endif

#include "deadline.h"

namespace ptmove {

#ifdef _WIN32
using NativeHandle = void*;  // a HANDLE
constexpr NativeHandle kNoHandle = nullptr;
using InterruptCode = long;  // a console control event + 1, or 0
#else
using NativeHandle = int;  // a file descriptor
constexpr NativeHandle kNoHandle = -1;
using InterruptCode = std::sig_atomic_t;  // a signal number, or 0
#endif

/// What ends a call before its deadline: an interrupt that the layer above
/// catches. The default cancels nothing.
struct Cancellation {
  const volatile InterruptCode* interrupt = nullptr;  // not 0 once one came
#ifdef _WIN32
  void* event = nullptr;  // set when one comes, for a wait to wake on
#else
  const sigset_t* letIn = nullptr;        // the mask under which a blocking call lets it in
#endif
  bool requested() const {
    return interrupt != nullptr && *interrupt != 0;
  }
};

/// How Port::watch ended.
enum class WatchEnd { kElapsed, kInterrupted, kHungUp, kOther };

class Port {
 public:
  enum class OnError { kGiveUp, kRetry };

  virtual ~Port() = default;

  /// Opens COM<portNumber> for reading and writing, for this process alone
  /// (a network port: connects to its server, and the number only names
  /// it). False when the port does not exist, cannot be accessed or is in
  /// use; a port in use is let go at once, its owner's line untouched.
  virtual bool open(std::int32_t portNumber) = 0;

  /// Read timeouts of the device's own, for a reader that does not bound
  /// its reads (read() bounds its own): 1 ms between bytes, 100 ms per
  /// byte plus 1000 ms in all. False when they cannot be applied.
  virtual bool applyTimeouts() = 0;

  /// Raw 8 data bits, no parity, one stop bit at `baudRate`, no flow
  /// control, DTR and RTS raised. False when the line cannot be set up as
  /// asked.
  virtual bool applyLineSettings(std::int32_t baudRate) = 0;

  /// Whether applyLineSettings sets the line's speed: not where a server's
  /// own configuration sets it (a raw TCP port).
  virtual bool setsLineSpeed() const { return true; }

  /// Writes all of `data` by `deadline`; a cancellation also ends a write
  /// that waits for the line. With OnError::kRetry a write the system
  /// refuses is tried again until the deadline. A device that has vanished
  /// is let go at once. Returns the count written: less than `size` only
  /// on failure, when error() says why.
  virtual std::size_t write(const std::uint8_t* data, std::size_t size, Deadline deadline,
                            Cancellation cancellation, OnError onError) = 0;

  /// Reads up to `capacity` bytes, returning as soon as some have come.
  /// Returns 0 at the deadline or on a cancellation, and when the device
  /// has vanished (let go at once) or the read failed (error() says why).
  virtual std::size_t read(std::uint8_t* buffer, std::size_t capacity, Deadline deadline,
                           Cancellation cancellation) = 0;

  /// Throws away whatever has arrived and was not read yet, so that what
  /// is read next came after this call: a reply to an earlier question, or
  /// one left on the line before the port was opened, is not taken for the
  /// answer to the next.
  virtual void discardInput() = 0;

  /// Waits until everything written has left the port, by `deadline`.
  /// False when output was still waiting then; error() says so.
  virtual bool drain(Deadline deadline) = 0;

  /// The longest a write of `bytes` may take at the line's speed (see
  /// writeLimit).
  virtual std::chrono::milliseconds limitFor(std::size_t bytes) const = 0;

  /// Writes what the device takes of `data` at once, without waiting or
  /// allocating: for a fault handler, which may run in the middle of
  /// anything. Nothing while the device is let go.
  virtual void writeFromSignalHandler(const std::uint8_t* data, std::size_t size) noexcept = 0;

  /// Whether the device hangs up (unplugged, closed by the far end) by
  /// `until`, returning as soon as the system reports it; a deadline that
  /// has passed asks once, without waiting.
  virtual bool hungUp(Deadline until) const = 0;

  /// Lets go of a device that has vanished, at once and without touching
  /// the line, so that the system can give a returning device its name;
  /// then tells the follower.
  virtual void letGo() = 0;

  /// When the device was let go, while it is not open again.
  virtual std::optional<Clock::time_point> letGoAt() const = 0;
  bool isLetGo() const { return letGoAt().has_value(); }

  /// Opens the device that was let go again, by its name, with the
  /// timeouts and the line settings asked before. False while it is not
  /// back; error() then says why.
  virtual bool reopen() = 0;

  /// Closes the port. Output that has not left by now (a stuck or vanished
  /// line) is discarded, so closing never hangs.
  virtual void close() = 0;

  /// Called each time the port lets go of its device, so that whatever
  /// shares the device (the stop guard's process) lets go of it too before
  /// it is opened again. Empty: nobody.
  virtual void setFollower(std::function<void()> onLetGo) = 0;

  /// Called, from another thread, when a call cannot be cut short (a driver
  /// that ignores cancelling) and the process is about to end, leaving the
  /// stop to the guard: its last words, with whether it was writing.
  virtual void whenStuck(std::function<void(bool writing)> lastWords) = 0;

#ifdef _WIN32
  /// Hands a copy of the open port to the guard process `process` (its
  /// handle and id), which takes it over with takeOverPort(text); the text
  /// says how. "" when it cannot be handed over; error() then says why.
  virtual std::string handOver(void* process, unsigned long processId) = 0;
#else
  /// Blocks until the port hangs up, `other` (a descriptor of the
  /// caller's) has something to read or hangs up, `cancellation` lets an
  /// interrupt in, or `until` passes: one wait on all of them, for a wait
  /// or a guard that must notice each at once. A port let go is not
  /// watched.
  virtual WatchEnd watch(Deadline until, Cancellation cancellation, NativeHandle other) const = 0;

  /// In a forked child that keeps only the port and `kept`: closes every
  /// other descriptor of the process.
  virtual void keepOnlyThisAnd(NativeHandle kept1, NativeHandle kept2) const = 0;
#endif

  virtual std::int32_t portNumber() const = 0;

  /// The speed asked of applyLineSettings, or 0.
  virtual std::int32_t baudRate() const = 0;

  /// The port in messages: "COM3 (/dev/ttyUSB0, from PTMOVE_COM3)".
  virtual const std::string& name() const = 0;

  /// Why the last call that failed did: a sentence for the user, naming the
  /// port and, where it helps, what to do.
  virtual const std::string& error() const = 0;
};

/// The port a run asks for, not yet open: the server at `address` (a
/// tcp:// or rfc2217:// address) when one is given; otherwise COM<n> as
/// this system has it, which PTMOVE_COM<n> may also point at a server.
std::unique_ptr<Port> makePort(std::int32_t portNumber, const std::string& address);

#ifdef _WIN32
/// In a guard process: the port that Port::handOver described in `text`,
/// open; nullptr when it cannot be taken over.
std::unique_ptr<Port> takeOverPort(const std::string& text);
#endif

}  // namespace ptmove

#endif  // PTMOVE_SERIAL_PORT_H_
