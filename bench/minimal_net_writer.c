/* The least a program can do for one movement on a port behind a serial
 * device server: connect, write the movement frame, wait, write the stop
 * frame, close. The network benchmark's baseline for start latency.
 *   minimal_net_writer HOST PORT SECONDS */
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv) {
  static const unsigned char move[7] = {0xFF, 0x01, 0x00, 0x02, 0x3F, 0x00, 0x42};
  static const unsigned char stop[7] = {0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01};
  if (argc < 4) {
    return 2;
  }
  struct addrinfo hints = {0};
  struct addrinfo* found = NULL;
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  if (getaddrinfo(argv[1], argv[2], &hints, &found) != 0) {
    return 1;
  }
  const int fd = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
  if (fd < 0 || connect(fd, found->ai_addr, found->ai_addrlen) != 0) {
    return 1;
  }
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  if (write(fd, move, sizeof move) != (ssize_t)sizeof move) {
    return 1;
  }
  const double seconds = atof(argv[3]);
  struct timespec wait;
  wait.tv_sec = (time_t)seconds;
  wait.tv_nsec = (long)((seconds - (double)wait.tv_sec) * 1e9);
  nanosleep(&wait, NULL);
  if (write(fd, stop, sizeof stop) != (ssize_t)sizeof stop) {
    return 1;
  }
  close(fd);
  return 0;
}
