// The board's serial ports: /dev/ttyS0 to /dev/ttyS3, opened raw with a line setting chosen by
// small indexes. The GPS receiver is on port 2, the external controller on port 1; both run at
// 9600 baud, 8 data bits, no parity, one stop bit.
//
// A port handle is the descriptor of the open terminal. A handle of 0 or less stands for no port:
// reads and writes on it do nothing and give 0, freeing it does nothing. A read waits at most one
// second for the first byte (VTIME 10, VMIN 0) and gives what has arrived.
//
// The settings the port had before it was opened are kept in storage the caller gives (it may be
// null) and put back when the port is freed.
#pragma once

#include <cstdint>
#include <termios.h>

#define SERIAL_DEVICE_PREFIX "/dev/ttyS"
constexpr int SERIAL_PORT_COUNT = 4;
constexpr int SERIAL_PATH_SIZE = 80;

// Indexes of AllocComPort.
enum SerialSpeedIndex { SERIAL_4800 = 0, SERIAL_9600 = 1, SERIAL_19200 = 2, SERIAL_38400 = 3, SERIAL_115200 = 4 };
enum SerialDataBitsIndex { SERIAL_CS5 = 0, SERIAL_CS6 = 1, SERIAL_CS7 = 2, SERIAL_CS8 = 3 };
enum SerialParityIndex { SERIAL_PARITY_NONE = 0, SERIAL_PARITY_EVEN = 1, SERIAL_PARITY_ODD = 2 };
enum SerialStopBitsIndex { SERIAL_STOP_1 = 0, SERIAL_STOP_2 = 1 };

// The read and write operations have one shape (port, bytes, count -> count), so that protocol
// code can be handed them and never touch the port itself.
using ComReadFn = int (*)(int handle, uint8_t* buffer, int size);
using ComWriteFn = int (*)(int handle, const uint8_t* bytes, int count);

// Opens "/dev/ttyS<port>" with the line setting of the indexes. The handle; -1 when the device
// could not be opened or is not a terminal; 0 (nothing opened) when an index is out of range.
int AllocComPort(int port, int speed, int dataBits, int parity, int stopBits, struct termios* savedSettings);
// Opens `path` raw with these termios flag values. The handle, or -1.
int SerialOpen(const char* path, tcflag_t speedFlag, tcflag_t dataBitsFlag, tcflag_t stopBitsFlag,
               tcflag_t parityFlags, struct termios* savedSettings);
// One read of at most `size` bytes: the count, 0 when a second passed with nothing received,
// negative on error; 0 at once for a handle of 0 or less.
int ReadComPort(int handle, uint8_t* buffer, int size);
// Writes all bytes in one call; the count written (0 for a handle of 0 or less).
int WriteComPort(int handle, const uint8_t* bytes, int count);
// Puts the saved settings back (when given) and closes: 0, or -1 for a handle of 0 or less.
int SerialClose(int handle, const struct termios* savedSettings);
// SerialClose for a real handle; -1 when there was nothing to close.
int FreeComPort(int handle, const struct termios* savedSettings);
