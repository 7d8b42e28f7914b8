// The message layer that connects all threads: 128 numbered pipes, each a first-in first-out
// list of fixed-size message records with exactly one reading thread.
//
// A sender copies a record into the pipe named in its word 0. The reader polls: MsgRecv gives a
// pointer to the head record, which stays queued and is read in place, and MsgDone drops it
// (freeing the heap block attached in word 10). Only the supervisor is woken, through the
// semaphore g_thread_to_main that every sender to pipe 10 posts after its send.
#pragma once

#include <cstddef>
#include <cstdint>

// Module numbers: word 1 of a record (the sender) and, for modules that receive, their pipe.
enum : uint32_t {
  MOD_CORE = 10,
  MOD_RECORD = 20,
  MOD_LOG = 30,
  MOD_GPS = 40,
  MOD_RD_COM = 50,
  MOD_GSNR = 60,
  MOD_REC_BUTTON = 70,
  KVOX_RESET_SWITCH = 80,
  KVOX_POWER_SWITCH = 90,
  MOD_OVERWRITE = 100,
};

enum : uint32_t {
  PIPE_CORE = 10,
  PIPE_RECORD = 20,
  PIPE_RECORD_GPS = 21,
  PIPE_RECORD_GSNR = 22,
  PIPE_LOG = 30,
  PIPE_LOG_GPS = 31,
  PIPE_LOG_GSNR = 32,
  PIPE_GPS = 40,
  PIPE_RD_COM = 50,
};

// Message ids, unique across all pipes.
enum : uint32_t {
  MSG_RETURN = 1,
  MSG_TERMINATE = 3,
  MSG_TRIGGER = 5,
  MSG_REQUEST_RECORD_STATUS = 6,
  MSG_SET_NEW_CONFIG = 7,
  MSG_WRITE_END = 8,
  MSG_SET_GPS_TIME = 9,
  MSG_RESET_BUTTON_ON = 10,
  MSG_NEW_RECORD_CONFIG = 11,
  MSG_NEW_GSNR_CONFIG = 12,
  MSG_SUPER_CAP_CHARGED = 13,
  MSG_SUCCESSIVE_TRIGGER = 14,
  MSG_POWER_SHORT_CUT = 15,
  MSG_SD_FULL = 16,
  MSG_OVERWRITE_MODE = 17,
  MSG_GPS_DATA = 100,
  MSG_GSNR_DATA = 101,
};

// Trigger types: word 7 of MSG_TRIGGER, and a field of the stored recordings.
enum : uint32_t {
  TRIGGER_GSENSOR = 1,
  TRIGGER_BUTTON = 2,  // push-buttons and the power switch
  TRIGGER_SERIAL = 4,
};

constexpr int MSG_PIPE_COUNT = 128;

// A message record: eleven words. Words 0..9 are 32-bit; word 10 carries a pointer to an
// attached heap block, so on the board (32-bit pointers) the record is 44 bytes; on a 64-bit PC
// it is wider. Records never leave the process, so only the sizes of the build matter: every
// sender passes MSG_LENGTH.
struct MsgRecord {
  uint32_t word[10];  // 0 pipe, 1 sender, 2 id, 3 argument (MSG_RETURN), 4 zero, 5..9 payload
  void* block;        // word 10: heap block owned by the record once sent, or null
};
constexpr size_t MSG_LENGTH = sizeof(MsgRecord);
static_assert(sizeof(void*) != 4 || MSG_LENGTH == 44, "a message record is 44 bytes on the board");

enum MsgWord : int {
  MSG_W_PIPE = 0,
  MSG_W_SENDER = 1,
  MSG_W_ID = 2,
  MSG_W_ARG = 3,
  MSG_W_P0 = 5,  // payload words 5..9
  MSG_W_P1 = 6,
  MSG_W_P2 = 7,
  MSG_W_P3 = 8,
  MSG_W_P4 = 9,
};

void MsgOpen();
int MsgClose();
int MsgSend(const void* record, size_t length);
int MsgRecv(MsgRecord** record, int pipe);
int MsgDone(int pipe);
int MsgClear(int pipe);

// Number of registered users (for tests and traces).
int MsgOpenCount();
// Records waiting in a pipe, or -1 for a pipe that has never been used. Walks the pipe under its
// lock: for health reports (the soak samples it once a simulated hour), never per message.
int MsgPipeDepth(int pipe);
// Builds a record with every word 0 except pipe, sender and id.
MsgRecord MsgMake(uint32_t pipe, uint32_t sender, uint32_t id);
