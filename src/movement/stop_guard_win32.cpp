// The Windows stop guard: a second run of ptmove.exe, without a console,
// that inherits a handle to this process, three events ("done", "let go"
// and, set by the guard, "let gone") and the read end of a pipe on which
// it is handed its own copy of the port, once it exists. The environment,
// never the command line, tells it that it is a guard. It waits for this
// process to end or for "done"; an end without "done" means the program
// died mid-movement, and the guard sends the stop frame. Meanwhile it lets
// go of the port when told to, so that the program can open it again.

#include <windows.h>

#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "stop_delivery.h"
#include "stop_guard.h"
#include "system_message.h"

namespace ptmove {

namespace {

constexpr wchar_t kGuardVariable[] = L"PTMOVE_STOP_GUARD";

// How long the program waits for the guard to have let go of the port.
constexpr DWORD kAnswerWithinMilliseconds = 1000;

// What the program hands its guard, as the guard finds it in the
// environment: "pid:handover:process:done:letgo:letgone:stop", the stop
// frame's bytes in hexadecimal, whatever the protocol. The port comes on
// the handover pipe: a copy of it can only be made for a process that
// exists (a socket's duplicate names the process it is for).
struct GuardHandles {
  DWORD programId = 0;
  HANDLE handover = nullptr;
  HANDLE program = nullptr;
  HANDLE done = nullptr;
  HANDLE letGo = nullptr;
  HANDLE letGone = nullptr;
  Bytes stop;
};

// The longest stop frame the environment carries.
constexpr std::size_t kLongestStop = 64;

std::wstring number(HANDLE handle) {
  return std::to_wstring(reinterpret_cast<ULONG_PTR>(handle));
}

std::wstring describe(const GuardHandles& handles) {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring stop;
  for (std::uint8_t byte : handles.stop) {
    stop += kDigits[byte >> 4];
    stop += kDigits[byte & 0x0F];
  }
  return std::to_wstring(handles.programId) + L":" + number(handles.handover) + L":" +
         number(handles.program) + L":" + number(handles.done) + L":" + number(handles.letGo) +
         L":" + number(handles.letGone) + L":" + stop;
}

int hexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') {
    return c - L'0';
  }
  if (c >= L'A' && c <= L'F') {
    return c - L'A' + 10;
  }
  return -1;
}

bool parse(const wchar_t* text, GuardHandles& handles) {
  unsigned long programId = 0;
  unsigned long long handover = 0, program = 0, done = 0, letGo = 0, letGone = 0;
  int consumed = 0;
  if (std::swscanf(text, L"%lu:%llu:%llu:%llu:%llu:%llu:%n", &programId, &handover, &program, &done,
                   &letGo, &letGone, &consumed) != 6 ||
      consumed == 0) {
    return false;
  }
  Bytes stop;
  for (const wchar_t* at = text + consumed; *at != L'\0'; at += 2) {
    const int high = hexDigit(at[0]);
    const int low = high < 0 ? -1 : hexDigit(at[1]);
    if (low < 0 || stop.size() == kLongestStop) {
      return false;
    }
    stop.push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  if (stop.empty()) {
    return false;
  }
  handles = {static_cast<DWORD>(programId),
             reinterpret_cast<HANDLE>(handover),
             reinterpret_cast<HANDLE>(program),
             reinterpret_cast<HANDLE>(done),
             reinterpret_cast<HANDLE>(letGo),
             reinterpret_cast<HANDLE>(letGone),
             stop};
  return true;
}

HANDLE inheritableCopy(HANDLE handle, DWORD access) {
  HANDLE copy = nullptr;
  const DWORD options = access == 0 ? DUPLICATE_SAME_ACCESS : 0;
  if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, access, TRUE,
                       options)) {
    return nullptr;
  }
  return copy;
}

std::wstring programPath() {
  std::wstring path(32768, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length < path.size() ? length : 0);
  return path;
}

// Keeps this process's standard handles from being inherited while it
// lives, and puts their inheritance back after.
class HolderOfStandardHandles {
 public:
  HolderOfStandardHandles() {
    const DWORD which[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int i = 0; i < 3; ++i) {
      handles_[i] = GetStdHandle(which[i]);
      DWORD flags = 0;
      if (handles_[i] != nullptr && handles_[i] != INVALID_HANDLE_VALUE &&
          GetHandleInformation(handles_[i], &flags) && (flags & HANDLE_FLAG_INHERIT) != 0) {
        SetHandleInformation(handles_[i], HANDLE_FLAG_INHERIT, 0);
        restore_[i] = true;
      }
    }
  }
  ~HolderOfStandardHandles() {
    for (int i = 0; i < 3; ++i) {
      if (restore_[i]) {
        SetHandleInformation(handles_[i], HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
      }
    }
  }
  HolderOfStandardHandles(const HolderOfStandardHandles&) = delete;
  HolderOfStandardHandles& operator=(const HolderOfStandardHandles&) = delete;

 private:
  HANDLE handles_[3] = {};
  bool restore_[3] = {};
};

// Whether the process behind `program` still runs; a handle that no longer
// tells counts as a process that has ended.
bool stillRunning(HANDLE program) {
  DWORD code = 0;
  return GetExitCodeProcess(program, &code) && code == STILL_ACTIVE;
}

// A job that ends whatever is in it once nobody holds it. The guard starts
// in it, and this process hands it a handle to the job only once its start
// is over: a guard whose creator was killed inside CreateProcess (so before
// any movement frame) never runs far enough to watch anything, and would
// otherwise live on, suspended or half-started, holding what it inherited
// (the port, a caller's pipes) for good. nullptr where jobs cannot be made.
HANDLE jobThatEndsAnOrphan() {
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (job == nullptr) {
    return nullptr;
  }
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    CloseHandle(job);
    return nullptr;
  }
  return job;
}

// Starts this program again as a guard that inherits exactly `inherited`,
// inside `job` when there is one; returns its process, or nullptr.
HANDLE startGuard(const GuardHandles& handles, std::vector<HANDLE> inherited, HANDLE job) {
  const std::wstring program = programPath();
  if (program.empty()) {
    return nullptr;
  }
  const DWORD attributeCount = job != nullptr ? 2 : 1;
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, attributeCount, 0, &size);
  std::vector<char> attributes(size);
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
  if (!InitializeProcThreadAttributeList(list, attributeCount, 0, &size)) {
    return nullptr;
  }
  STARTUPINFOEXW start{};
  start.StartupInfo.cb = sizeof start;
  start.StartupInfo.dwFlags = STARTF_USESTDHANDLES;  // none: nothing shows
  start.lpAttributeList = list;
  UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited.data(),
                            inherited.size() * sizeof(HANDLE), nullptr, nullptr);
  if (job != nullptr) {
    // In the job from its creation on: no moment when it is not.
    UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_JOB_LIST, &job, sizeof job, nullptr,
                              nullptr);
  }
  std::wstring commandLine = L"\"" + program + L"\"";
  // The handle list is all the guard should inherit; where it is not
  // honoured (Wine), the caller's standard handles must not leak into the
  // guard either, or a caller reading our output to its end would wait for
  // the guard too.
  const HolderOfStandardHandles standardHandles;
  SetEnvironmentVariableW(kGuardVariable, describe(handles).c_str());
  PROCESS_INFORMATION started{};
  // No console: the guard gets no Ctrl+C and outlives a closed console.
  const DWORD flags = DETACHED_PROCESS | EXTENDED_STARTUPINFO_PRESENT;
  const BOOL ok = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                 flags | CREATE_BREAKAWAY_FROM_JOB, nullptr, nullptr,
                                 &start.StartupInfo, &started) ||
                  CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags,
                                 nullptr, nullptr, &start.StartupInfo, &started);
  const DWORD error = GetLastError();
  SetEnvironmentVariableW(kGuardVariable, nullptr);
  DeleteProcThreadAttributeList(list);
  if (!ok) {
    SetLastError(error);
    return nullptr;
  }
  CloseHandle(started.hThread);
  return started.hProcess;
}

// The guard has started: from now on it holds its job itself, and outlives
// this process. False when it cannot be handed over (the guard then ends
// with the job, at once).
bool handOver(HANDLE job, HANDLE guard) {
  HANDLE inGuard = nullptr;
  return DuplicateHandle(GetCurrentProcess(), job, guard, &inGuard, 0, FALSE,
                         DUPLICATE_SAME_ACCESS) != FALSE;
}

// Hands a copy of `port` to the process `guard`, described on the
// handover pipe's write end; false (port.error() says why) when it cannot.
bool tellThePort(Port& port, HANDLE guard, HANDLE pipe) {
  const std::string text = port.handOver(guard, GetProcessId(guard));
  DWORD written = 0;
  return !text.empty() &&
         WriteFile(pipe, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

// What the program wrote on the handover pipe, up to its end: "" when it
// died first.
std::string portFrom(HANDLE pipe) {
  std::string text;
  char chunk[512];
  DWORD got = 0;
  while (text.size() < 4096 && ReadFile(pipe, chunk, sizeof chunk, &got, nullptr) && got > 0) {
    text.append(chunk, got);
  }
  return text;
}

}  // namespace

StopGuard::StopGuard(Port& port, const Bytes& stop) : port_(port) {
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  GuardHandles handles;
  handles.programId = GetCurrentProcessId();
  handles.stop = stop;
  HANDLE handover = nullptr;  // the pipe's write end, ours alone
  HANDLE handoverRead = nullptr;
  if (CreatePipe(&handoverRead, &handover, nullptr, 0)) {
    handles.handover = inheritableCopy(handoverRead, 0);
    CloseHandle(handoverRead);
  }
  handles.program =
      inheritableCopy(GetCurrentProcess(), SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION);
  handles.done = done_ = CreateEventW(&inheritable, TRUE, FALSE, nullptr);
  handles.letGo = letGo_ = CreateEventW(&inheritable, FALSE, FALSE, nullptr);
  handles.letGone = letGone_ = CreateEventW(&inheritable, FALSE, FALSE, nullptr);
  HANDLE job = jobThatEndsAnOrphan();
  if (handles.handover != nullptr && handles.program != nullptr && handles.done != nullptr &&
      handles.letGo != nullptr && handles.letGone != nullptr) {
    guard_ = startGuard(
        handles, {handles.handover, handles.program, handles.done, handles.letGo, handles.letGone},
        job);
  }
  if (guard_ != nullptr && job != nullptr && !handOver(job, guard_)) {
    CloseHandle(guard_);
    guard_ = nullptr;
  }
  if (guard_ == nullptr) {
    error_ = "cannot start the stop guard: " + systemMessage(GetLastError());
  } else if (!tellThePort(port, guard_, handover)) {
    // Without its port the guard ends by itself, with its job.
    error_ = "cannot start the stop guard: " + port.error();
    TerminateProcess(guard_, 1);
    CloseHandle(guard_);
    guard_ = nullptr;
  }
  if (job != nullptr) {
    CloseHandle(job);  // the guard's now, or gone with the guard
  }
  watching_ = guard_ != nullptr;
  // The pipe's write end closed: the guard reads to its end.
  for (HANDLE handle : {handover, handles.handover, handles.program}) {
    if (handle != nullptr) {
      CloseHandle(handle);
    }
  }
  if (watching_) {
    port_.setFollower([this] { letGoToo(); });
  }
}

StopGuard::~StopGuard() {
  dismiss();
}

void StopGuard::letGoToo() {
  if (!watching_) {
    return;
  }
  // Until it says it has let go, or it ends.
  SetEvent(letGo_);
  HANDLE answers[2] = {letGone_, guard_};
  WaitForMultipleObjects(2, answers, FALSE, kAnswerWithinMilliseconds);
}

void StopGuard::dismiss() {
  if (guard_ != nullptr) {
    SetEvent(done_);
    WaitForSingleObject(guard_, 5000);
  }
  abandon();
}

void StopGuard::abandon() {
  // Without "done" the guard sends the stop frame once this process ends.
  port_.setFollower(nullptr);
  for (void** handle : {&guard_, &done_, &letGo_, &letGone_}) {
    if (*handle != nullptr) {
      CloseHandle(*handle);
      *handle = nullptr;
    }
  }
  watching_ = false;
}

bool StopGuard::ended() {
  return !watching_ || WaitForSingleObject(guard_, 0) == WAIT_OBJECT_0;
}

NativeHandle StopGuard::endHandle() const {
  return watching_ ? guard_ : kNoHandle;
}

unsigned long StopGuard::processId() const {
  return guard_ != nullptr ? GetProcessId(guard_) : 0;
}

bool runAsStopGuard() {
  wchar_t value[512];
  const DWORD length = GetEnvironmentVariableW(kGuardVariable, value, 512);
  GuardHandles handles;
  if (length == 0 || length >= 512 || !parse(value, handles)) {
    return false;
  }
  // Handles only the program that started us can have handed over: a
  // stray variable makes an ordinary run.
  if (handles.programId == GetCurrentProcessId() ||
      GetProcessId(handles.program) != handles.programId) {
    return false;
  }
  SetEnvironmentVariableW(kGuardVariable, nullptr);
  const std::unique_ptr<Port> taken = takeOverPort(portFrom(handles.handover));
  CloseHandle(handles.handover);
  if (!taken) {
    return true;  // the program died before the movement, or could not hand it over
  }
  Port& port = *taken;
  // Every 100 ms the port is asked whether its device is still there: a
  // vanished one is let go at once, so that it can come back by its name.
  // The program's end is also asked for: the guard never outlives it by
  // more than the stop takes, even where its handle is not signalled.
  HANDLE events[3] = {handles.done, handles.program, handles.letGo};
  for (;;) {
    const DWORD which = WaitForMultipleObjects(3, events, FALSE, 100);
    if (which == WAIT_OBJECT_0 + 2) {
      port.letGo();
      SetEvent(handles.letGone);
      continue;
    }
    if (which != WAIT_TIMEOUT || !stillRunning(handles.program)) {
      break;
    }
    if (!port.isLetGo() && port.hungUp(Deadline::after({}))) {
      port.letGo();
    }
  }
  if (WaitForSingleObject(handles.done, 0) != WAIT_OBJECT_0) {
    deliverStop(port, handles.stop);
    port.close();
  } else {
    port.letGo();  // the program's to close: only our handle goes
  }
  return true;
}

}  // namespace ptmove
