// The NMEA 0183 codec: the handlers of protocol 2 in the GPS protocol table.
//
// The decoder reads $GPGGA, $GPGSV, $GPRMC and the recorder's own $KVOXL sentences from a byte
// stream into one record per sentence kind and copies new records into the NMEA layout of the
// fix record. The encoder writes the four sentence kinds as text from a fix record in that
// layout; the travel log uses it to store every fix as sentences.
//
// There is one decoder (the receive state and its four records); only one thread may decode.
// Encoding keeps no state and may run on any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gps/gps_fix.h"

// One row of the sentence table: the sentence name, the decoder's record of that kind and what
// resets, decodes and encodes it. Encode writes one sentence kind (all its lines) at `out`, never
// more than `room` bytes including the final NUL, and returns the length written (0 when nothing
// was written, also when the text would not fit).
struct NmeaSentence {
  const char* name;
  void* record;
  void (*Reset)(void* record);
  int (*Decode)(const char* fields, void* record);
  int (*Encode)(char* out, size_t room, const GpsFixRecord* fix);
};

extern const NmeaSentence nmea[];
extern const int total_messages;  // rows in nmea: 4

// The decoder's receive state.
struct NmeaDecoderState {
  int state;                 // 0 to 4
  uint8_t checksum;          // running XOR from the character after '$'
  uint8_t received;          // the checksum's first digit, shifted
  uint16_t index;
  char name[8];
  char text[256];            // the fields, starting with the comma after the name
  uint16_t count_gga, count_gsv, count_rmc, count_kvoxl;  // counters last copied to a fix
  uint32_t m_dwCommandCount;  // sentences processed
  int SpeedUnit;
};
const NmeaDecoderState& NmeaDecoder();

// The decoder's own records (what the last sentence of each kind said).
const nmeafix::GgaRecord& NmeaGga();
const nmeafix::GsvRecord& NmeaGsv();
const nmeafix::RmcRecord& NmeaRmc();
const nmeafix::KvoxlRecord& NmeaKvoxl();

// Protocol table handlers.
int NmeaInit(void* arg);  // 0
// 0 when a new $GPRMC was taken into the record, else -1. The debug flag is not used.
int NmeaDecode(const uint8_t* bytes, int count, GpsFixRecord* fix, int debug);
// The sentences of the NMEA-layout fix record at `source`, one kind after the other; the total
// length written. At most size - 1 characters and a NUL are written; a sentence that would not
// fit is left out whole.
int NmeaEncode(uint8_t* out, int size, const void* source);
int NmeaSetSpeedUnit(int flag);  // 0

// Hands a received sentence to the first row whose name starts the received name: 1 if a row
// took it, else 0.
int ProcessCommand(const char* name, const char* fields);

// The NMEA checksum: the XOR of the characters after the first '$' up to a '*', looking at no
// more than `length` characters and stopping at a NUL.
uint8_t MakeCheckSum(const char* text, int length);

// Splits ",a,b,c" into slots of `width` characters (NUL-terminated, longer fields cut to
// width - 1) at `slots`, one after the other: the number of fields stored (at most `count`); 0
// for a text that starts with NUL or '*'; -1 for a null or zero argument.
int GetFieldAll(const char* text, char* slots, int count, int width);
// Copies one field (up to ',', '*' or NUL) into a slot of `width` characters; returns the
// field's length in the text.
int GetAField(const char* text, char* slot, int width);

// Row handlers.
void ResetGPGGA(void* record);
void ResetGPGSV(void* record);
void ResetGPRMC(void* record);
void ResetKVOXL(void* record);
int DecodeGPGGA(const char* fields, void* record);
int DecodeGPGSV(const char* fields, void* record);
int DecodeGPRMC(const char* fields, void* record);
int DecodeKVOXL(const char* fields, void* record);
int EncodeGPGGA(char* out, size_t room, const GpsFixRecord* fix);
int EncodeGPGSV(char* out, size_t room, const GpsFixRecord* fix);
int EncodeGPRMC(char* out, size_t room, const GpsFixRecord* fix);
int EncodeKVOXL(char* out, size_t room, const GpsFixRecord* fix);
