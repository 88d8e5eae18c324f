#include "system_message.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <string.h>  // sigabbrev_np
#endif

#include <cstring>

namespace ptmove {

#ifdef _WIN32

std::string systemMessage(unsigned long error) {
  // FormatMessage's text, in the user's language.
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  std::string message = length > 0 ? std::string(text, length) : "";
  LocalFree(text);
  // The text ends with a full stop and a line end.
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message.empty() ? "system error " + std::to_string(error) : message;
}

std::string interruptName(InterruptCode code) {
  switch (code - 1) {
    case CTRL_C_EVENT:
      return "Ctrl+C";
    case CTRL_BREAK_EVENT:
      return "Ctrl+Break";
    case CTRL_CLOSE_EVENT:
      return "the console's closing";
    case CTRL_LOGOFF_EVENT:
      return "the user's logoff";
    case CTRL_SHUTDOWN_EVENT:
      return "the system's shutdown";
    default:
      return "";
  }
}

#else

std::string systemMessage(unsigned long error) {
  return std::strerror(static_cast<int>(error));
}

std::string interruptName(InterruptCode code) {
  if (code == 0) {
    return "";
  }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 32))
  if (const char* abbreviation = sigabbrev_np(code)) {
    return std::string("SIG") + abbreviation;
  }
#endif
  return "signal " + std::to_string(code);
}

#endif

}  // namespace ptmove
