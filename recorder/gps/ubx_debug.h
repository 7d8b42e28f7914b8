// Debug lines of the u-blox NAV frames: one line per frame with its four header bytes, its
// length, every payload field in order and its two checksum bytes; for NAV-SVINFO one more line
// per satellite channel. Written to the console and, when given, to a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace ubx {

// `slot`: the frame as stored in the fix record (its slot's size, zero past the frame's end);
// `frame`: the frame as received, whole (its channel blocks are listed from it), or null.
void dumpNav(const uint8_t* slot, const uint8_t* frame, FILE* file);
// The line of one NAV slot into `out`; 0 for a slot that holds no known NAV frame.
int describeNav(const uint8_t* slot, char* out, size_t size);

}  // namespace ubx
