#include "host_lookup.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace ptmove {

namespace {

// A lookup that the caller may stop waiting for: the thread and the caller
// share it, and the last of the two frees it.
struct Lookup {
  std::mutex lock;
  std::condition_variable done;
  bool finished = false;
  int result = EAI_AGAIN;
  addrinfo* found = nullptr;
  ~Lookup() {
    if (found != nullptr) {
      freeaddrinfo(found);
    }
  }
};

addrinfo hints(int flags) {
  addrinfo wanted{};
  wanted.ai_family = AF_UNSPEC;
  wanted.ai_socktype = SOCK_STREAM;
  wanted.ai_protocol = IPPROTO_TCP;
  wanted.ai_flags = flags | AI_NUMERICSERV;
  return wanted;
}

std::string message(int result) {
#ifdef _WIN32
  std::string text = gai_strerrorA(result);
#else
  std::string text = gai_strerror(result);
#endif
  while (!text.empty() &&
         (text.back() == ' ' || text.back() == '.' || text.back() == '\n' || text.back() == '\r')) {
    text.pop_back();  // Windows ends its messages with ". "
  }
  return text;
}

}  // namespace

AddressList::~AddressList() {
  if (first_ != nullptr) {
    freeaddrinfo(first_);
  }
}

bool lookUp(const std::string& host, const std::string& service, Deadline deadline,
            AddressList& list, std::string& why) {
  const Clock::duration bound = deadline.left();
  const addrinfo numeric = hints(AI_NUMERICHOST);
  int result = getaddrinfo(host.c_str(), service.c_str(), &numeric, &list.first_);
  if (result == EAI_NONAME) {
    auto lookup = std::make_shared<Lookup>();
    try {
      std::thread([lookup, host, service] {
        const addrinfo named = hints(AI_ADDRCONFIG);
        addrinfo* found = nullptr;
        const int answer = getaddrinfo(host.c_str(), service.c_str(), &named, &found);
        std::lock_guard<std::mutex> hold(lookup->lock);
        lookup->result = answer;
        lookup->found = found;
        lookup->finished = true;
        lookup->done.notify_all();
      }).detach();
    } catch (const std::system_error&) {
      why = "cannot look up " + host + ": no thread to do it in";
      return false;
    }
    std::unique_lock<std::mutex> hold(lookup->lock);
    if (!lookup->done.wait_for(hold, deadline.left(), [&] { return lookup->finished; })) {
      why = "the name " + host + " was not found within " + seconds(bound);
      return false;
    }
    result = lookup->result;
    list.first_ = lookup->found;
    lookup->found = nullptr;
  }
  if (result != 0) {
    why = "unknown host " + host + " (" + message(result) + ")";
    return false;
  }
  return true;
}

}  // namespace ptmove
