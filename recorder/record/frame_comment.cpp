#include "record/frame_comment.h"

#include <ctime>

#include "record/frame_index.h"
#include "record/gps_fields.h"

namespace {
const uint8_t exif_header[2] = {0xFF, 0xD8};  // start of image
}

int createExifHeader(FRAME_COMMENT_AREA* area) {
  vr::FrameComment& c = area->block;
  c.soi[0] = exif_header[0];
  c.soi[1] = exif_header[1];
  c.marker[0] = 0xFF;
  c.marker[1] = 0xFE;
  c.segmentLength[0] = static_cast<uint8_t>(vr::kCommentSegmentLength >> 8);
  c.segmentLength[1] = static_cast<uint8_t>(vr::kCommentSegmentLength & 0xFF);
  area->length = static_cast<int32_t>(vr::kCommentBlockSize);
  return 0;
}

int createExifFormatImage(FRAME_COMMENT_AREA* area, const ENC_FRAME* frame, const RecorderSettings* s,
                          uint32_t triggerType, int frameKind) {
  struct tm tm;
  FrameLocalTime(frame->seconds.get(), &tm);
  bool pre = frame->preMark == ENC_FRAME_PRE_SETTINGS;
  vr::FrameComment& c = area->block;
  c.year = static_cast<uint8_t>(tm.tm_year + 1900 - 2000);
  c.month = static_cast<uint8_t>(tm.tm_mon + 1);
  c.day = static_cast<uint8_t>(tm.tm_mday);
  c.hour = static_cast<uint8_t>(tm.tm_hour);
  c.minute = static_cast<uint8_t>(tm.tm_min);
  c.second = static_cast<uint8_t>(tm.tm_sec);
  c.frameNumber = frame->frameNumber;
  c.kind = static_cast<uint8_t>(frameKind);
  c.field = static_cast<uint8_t>(pre ? s->PREFIELD1.load() : s->POSTFIELD1.load());
  c.password.set(static_cast<uint16_t>(s->PASSWORD.load()));
  c.interval.set(static_cast<uint16_t>(pre ? s->PRERECINT1.load() : s->POSTRECINT1.load()));
  c.recordSeconds.set(static_cast<uint16_t>(s->PRERECTIME1.load() + s->POSTRECTIME1.load()));
  c.recMode = s->RECMOD.load();
  c.triggerType = static_cast<uint8_t>(triggerType);
  return 0;
}

int createExifGsnr(FRAME_COMMENT_AREA* area, int32_t x, int32_t y, int32_t z) {
  area->block.gx.set(static_cast<int16_t>(x));
  area->block.gy.set(static_cast<int16_t>(y));
  area->block.gz.set(static_cast<int16_t>(z));
  return 0;
}

int createExifGps(FRAME_COMMENT_AREA* area, const GpsFixRecord* record, int32_t protocol, int32_t diffMs) {
  (void)diffMs;
  GpsFrameFields f;
  if (record == nullptr || !GpsFrameFieldsOf(*record, protocol, &f)) return 0;
  vr::FrameComment& c = area->block;
  c.gpsValid = f.valid;
  c.latitude.set(f.latitude);
  c.longitude.set(f.longitude);
  c.altitude.set(static_cast<int16_t>(f.altitude));
  c.speed = static_cast<uint8_t>(f.speed);
  c.course.set(static_cast<uint16_t>(f.course));
  c.gpsYear.set(f.year);
  c.gpsMonth = f.month;
  c.gpsDay = f.day;
  c.gpsHour = f.hour;
  c.gpsMinute = f.minute;
  c.gpsSecond = f.second;
  return 0;
}
