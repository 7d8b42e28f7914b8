// The frame comment block: start of image and one JPEG comment segment with the frame's capture
// time, kind, a few recording settings, the last GPS fix and the last G values. It is built in
// place in the channel's comment area before each frame is written; each builder fills only its
// own fields, so a value stays until its builder runs again. Layout: vr::FrameComment.
#pragma once

#include <cstdint>

#include "config/settings.h"
#include "gps/gps_fix.h"
#include "record/cam_interface.h"
#include "record/disk_mgr.h"

int createExifHeader(FRAME_COMMENT_AREA* area);
int createExifFormatImage(FRAME_COMMENT_AREA* area, const ENC_FRAME* frame, const RecorderSettings* settings,
                          uint32_t triggerType, int frameKind);
int createExifGsnr(FRAME_COMMENT_AREA* area, int32_t x, int32_t y, int32_t z);
// `diffMs` (frame to fix) is passed along for diagnosis and not stored.
int createExifGps(FRAME_COMMENT_AREA* area, const GpsFixRecord* record, int32_t protocol, int32_t diffMs);
