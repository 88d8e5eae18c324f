// Finding a server's addresses within a bound: a numeric address at once,
// a name in a thread of its own, so that a name server that does not
// answer cannot hold the program past the bound (the thread is left to end
// by itself).
#ifndef PTMOVE_PORT_HOST_LOOKUP_H_
#define PTMOVE_PORT_HOST_LOOKUP_H_

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#endif

#include <string>

#include "deadline.h"

namespace ptmove {

/// The addresses found, freed with the list.
class AddressList {
 public:
  AddressList() = default;
  ~AddressList();
  AddressList(const AddressList&) = delete;
  AddressList& operator=(const AddressList&) = delete;
  const addrinfo* first() const { return first_; }

 private:
  friend bool lookUp(const std::string&, const std::string&, Deadline, AddressList&, std::string&);
  addrinfo* first_ = nullptr;
};

/// The TCP addresses of `host` at port `service` by `deadline`; false with
/// `why` when there are none.
bool lookUp(const std::string& host, const std::string& service, Deadline deadline,
            AddressList& list, std::string& why);

}  // namespace ptmove

#endif  // PTMOVE_PORT_HOST_LOOKUP_H_
