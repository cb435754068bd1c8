// The least a Qt command-line program can do before its first byte: start
// QCoreApplication, open the port, let 10 ms pass as the drain before every
// command does, and send "+v" with 1 ms after each character, as the link
// does. bench_cli_speed times it like `ostrelgsm4 read`, so that the part of
// the first byte that is the program's own can be told from the libraries'
// loading and the drain, which no program on this stack escapes.
//
//   bench_qt_floor PORT
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_qt_floor PORT\n");
    return 2;
  }
  const int fd = open(argv[1], O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    std::perror(argv[1]);
    return 1;
  }
  termios raw{};
  tcgetattr(fd, &raw);
  cfmakeraw(&raw);
  tcsetattr(fd, TCSANOW, &raw);
  tcflush(fd, TCIOFLUSH);
  poll(nullptr, 0, 10);
  for (const char c : {'+', 'v', '\r'}) {
    if (write(fd, &c, 1) != 1) return 1;
    usleep(1000);
  }
  // The panel's answer, so that the simulator has finished with this run.
  pollfd in{fd, POLLIN, 0};
  char answer[64];
  if (poll(&in, 1, 1000) > 0 && read(fd, answer, sizeof answer) < 0) std::perror(argv[1]);
  close(fd);
  return 0;
}
