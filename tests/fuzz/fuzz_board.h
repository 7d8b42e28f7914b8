// A simulated board for the fuzz targets: one board directory for the whole run (in /dev/shm when
// there is one, so that writing an input as a card file costs no disk), the clock standing
// still, traces to the console as usual (run the targets with -close_fd_mask=1 to hide them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz_board {

// Creates the board directory on the first call; later calls give the same one.
const std::string& boardDir();
// Writes bytes as a file at a board path ("/mnt/log/x" lies in the root file system: nothing is
// mounted), creating its folders.
void writeBoardFile(const char* boardPath, const uint8_t* data, size_t size);
// The PC path of a board path.
std::string hostPath(const char* boardPath);

// The clock, standing still until now, runs ten million times faster than the PC's from the
// first call on, so that a receiver wait's pauses pass at once.
void runClockFast();

// A GPS port for the probes and acknowledgement waits: readPiece hands out the bytes given to
// feedPort in pieces of 1 to maxPiece bytes (each size taken from the byte it starts at), then
// falls silent; writeAll takes whatever is written.
void feedPort(const uint8_t* data, size_t size, size_t maxPiece);
int readPiece(int port, uint8_t* buffer, int size);
int writeAll(int port, const uint8_t* bytes, int count);

}  // namespace fuzz_board
