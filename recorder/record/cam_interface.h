// What the recorder expects of the camera/JPEG driver behind /dev/cam0 (a driver outside this
// system): its requests, the frame header it writes in front of every JPEG stream in its 48 MiB
// encoder ring buffer, and the frame index it hands out. Shared by the program and the simulated
// camera, so it depends on nothing of the program.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/le_field.h"

#define CAM_DEVICE "/dev/cam0"

// Request codes: Linux ioctl numbers of type 'z'.
constexpr unsigned long CAM_JPEG_LOG_START = 0x7A00;
constexpr unsigned long CAM_JPEG_LOG_STOP = 0x7A01;
constexpr unsigned long CAM_JPEG_GET_INDEX = 0x80087A02;       // _IOR('z', 2, ENC_INDEX)
constexpr unsigned long CAM_JPEG_LOG_CONDITION_SET = 0x40387A03;  // _IOW('z', 3, 56 bytes)
constexpr unsigned long CAM_JPEG_POP_INDEX = 0x7A06;
constexpr unsigned long CAM_REG_WRITE = 0x40047A08;            // _IOW('z', 8, 4 bytes)

constexpr size_t CAM_ENC_BUFFER_SIZE = 0x3000000;  // 48 MiB, mapped read-only and shared
constexpr size_t CAM_CONDITION_SIZE = 56;          // the driver reads this much of the settings

// The encoding settings at the head of the settings record, as the driver reads them.
struct CAM_CONDITION {
  le::I32 recordingMode;
  le::I32 preSeconds;
  le::I32 postSeconds;
  le::I32 preRate;  // frames per second before the trigger
  le::I32 postRate;
  le::I32 preSize;
  le::I32 postSize;
  le::I32 preField;
  le::I32 postField;
  le::I32 reserved[5];
};
static_assert(sizeof(CAM_CONDITION) == CAM_CONDITION_SIZE);

// The header in front of each JPEG stream in the ring buffer.
constexpr uint8_t ENC_FRAME_PRE_SETTINGS = 2;  // value of preMark for frames encoded under the pre settings

struct ENC_FRAME {
  le::U32 seconds;       // 0  capture time, seconds since 1970
  le::U32 microseconds;  // 4
  le::U32 jpegSize;      // 8  bytes of the JPEG stream that follows
  uint8_t frameNumber;   // 12 within its second, from 0
  uint8_t preMark;       // 13 ENC_FRAME_PRE_SETTINGS or 0
  uint8_t unused[10];    // 14
};
static_assert(sizeof(ENC_FRAME) == 24 && alignof(ENC_FRAME) == 1);
static_assert(offsetof(ENC_FRAME, jpegSize) == 8 && offsetof(ENC_FRAME, frameNumber) == 12);
static_assert(offsetof(ENC_FRAME, preMark) == 13);

// The argument of CAM_JPEG_GET_INDEX and CAM_JPEG_POP_INDEX (native words, as every ioctl record).
struct ENC_INDEX {
  uint32_t offset;  // of the oldest unreleased frame's ENC_FRAME from the start of the mapping
  uint32_t count;   // 0 when no frame is ready
};
static_assert(sizeof(ENC_INDEX) == 8);

// CAM_REG_WRITE's argument: sensor register, value, two bytes that carry nothing.
struct CAM_REG {
  uint8_t address;
  uint8_t value;
  uint8_t unused[2];
};
static_assert(sizeof(CAM_REG) == 4);
