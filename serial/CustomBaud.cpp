#include "serial/CustomBaud.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

bool XComSetCustomSpeed(int fd, uint32_t rate) {
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  // Same rate both ways: clear the input rate field so that it follows the output.
  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER;
  t.c_ospeed = rate;
  t.c_ispeed = rate;
  return ioctl(fd, TCSETS2, &t) == 0;
}

bool XComGetSpeed(int fd, uint32_t& rate) {
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  rate = t.c_ospeed;
  return true;
}
