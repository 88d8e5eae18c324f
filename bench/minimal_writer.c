/* The least a program can do for one movement: open the port named by
 * PTMOVE_COM1, write the movement frame, wait, write the stop frame. The
 * benchmark's baseline for start latency.
 *   minimal_writer SECONDS */
#include <fcntl.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv) {
  static const unsigned char move[7] = {0xFF, 0x01, 0x00, 0x02, 0x3F, 0x00, 0x42};
  static const unsigned char stop[7] = {0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01};
  const char* path = getenv("PTMOVE_COM1");
  const double seconds = argc > 1 ? atof(argv[1]) : 0.0;
  if (path == NULL) {
    return 2;
  }
  const int fd = open(path, O_RDWR | O_NOCTTY);
  if (fd < 0) {
    return 1;
  }
  if (write(fd, move, sizeof move) != (ssize_t)sizeof move) {
    return 1;
  }
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
