// Standard output and error written with write(2): a descriptor that
// refuses for now (EAGAIN) is waited for with poll, one that is gone
// (EPIPE, EBADF) takes nothing more and the run goes on.

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <streambuf>

#include "console_stream.h"

namespace ptmove {

namespace {

class DescriptorBuffer : public std::streambuf {
 public:
  explicit DescriptorBuffer(int fd) : fd_(fd) { setp(buffer_, buffer_ + sizeof buffer_); }
  ~DescriptorBuffer() override { sync(); }

 protected:
  int_type overflow(int_type c) override {
    sync();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }

  int sync() override {
    const char* next = pbase();
    while (next < pptr()) {
      const ssize_t n = ::write(fd_, next, static_cast<std::size_t>(pptr() - next));
      if (n > 0) {
        next += n;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        pollfd room = {fd_, POLLOUT, 0};
        poll(&room, 1, -1);
      } else if (!(n < 0 && errno == EINTR)) {
        break;  // the reader is gone: what is left is lost
      }
    }
    setp(buffer_, buffer_ + sizeof buffer_);
    return 0;
  }

 private:
  int fd_;
  char buffer_[4096];
};

}  // namespace

struct Console::Streams {
  DescriptorBuffer outBuffer{STDOUT_FILENO};
  DescriptorBuffer errBuffer{STDERR_FILENO};
  std::ostream out{&outBuffer};
  std::ostream err{&errBuffer};
};

Console::Console() : streams_(std::make_unique<Streams>()) {}

Console::~Console() {
  streams_->out.flush();
  streams_->err.flush();
}

std::ostream& Console::out() {
  return streams_->out;
}

std::ostream& Console::err() {
  return streams_->err;
}

}  // namespace ptmove
