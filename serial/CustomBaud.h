// Bit rates through termios2 (BOTHER), for rates that have no B-constant.
//
// Kept in a translation unit of its own: <asm/termbits.h> clashes with
// <termios.h>. Any thread; both calls touch only the given descriptor.
#pragma once

#include <cstdint>

// Sets input and output rate to any value the driver accepts; false on failure.
bool XComSetCustomSpeed(int fd, uint32_t rate);
// The device's current output rate in bits per second; false on failure.
bool XComGetSpeed(int fd, uint32_t& rate);
