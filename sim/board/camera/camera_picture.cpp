#include "board/camera/camera_picture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <turbojpeg.h>

namespace sim {
namespace {

constexpr int kQuality = 80;
constexpr int kGlyphW = 5, kGlyphH = 7;

// 5x7 glyphs, one byte per row, bit 4 leftmost.
const uint8_t* glyph(char c) {
  static const uint8_t digits[10][kGlyphH] = {
      {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
      {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
      {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
      {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
      {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}};
  static const uint8_t dash[kGlyphH] = {0, 0, 0, 0x1F, 0, 0, 0};
  static const uint8_t colon[kGlyphH] = {0, 0x0C, 0x0C, 0, 0x0C, 0x0C, 0};
  static const uint8_t hash[kGlyphH] = {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A};
  static const uint8_t slash[kGlyphH] = {0x01, 0x01, 0x02, 0x04, 0x08, 0x10, 0x10};
  static const uint8_t blank[kGlyphH] = {0, 0, 0, 0, 0, 0, 0};
  if (c >= '0' && c <= '9') return digits[c - '0'];
  if (c == '-') return dash;
  if (c == ':') return colon;
  if (c == '#') return hash;
  if (c == '/') return slash;
  return blank;
}

void fillRect(std::vector<uint8_t>& plane, int stride, int x0, int y0, int w, int h, uint8_t value, int maxW, int maxH) {
  for (int y = std::max(0, y0); y < std::min(maxH, y0 + h); ++y) {
    uint8_t* row = plane.data() + static_cast<size_t>(y) * stride;
    int from = std::max(0, x0), to = std::min(maxW, x0 + w);
    if (from < to) memset(row + from, value, static_cast<size_t>(to - from));
  }
}

// Draws text in the luma plane: white glyphs on a dark box, `scale` pixels per glyph dot.
void drawText(std::vector<uint8_t>& y, int width, int height, int x0, int y0, int scale, const char* text) {
  int n = static_cast<int>(strlen(text));
  fillRect(y, width, x0 - scale, y0 - scale, n * (kGlyphW + 1) * scale + scale, (kGlyphH + 2) * scale, 16, width,
           height);
  for (int i = 0; i < n; ++i) {
    const uint8_t* g = glyph(text[i]);
    for (int row = 0; row < kGlyphH; ++row) {
      for (int col = 0; col < kGlyphW; ++col) {
        if (g[row] & (0x10 >> col)) {
          fillRect(y, width, x0 + (i * (kGlyphW + 1) + col) * scale, y0 + row * scale, scale, scale, 235, width,
                   height);
        }
      }
    }
  }
}

constexpr uint8_t kApp15 = 0xEF;
constexpr size_t kMaxSegmentPayload = 65533;  // a segment's length field counts itself

// Where padding may go: after the encoder's first segment (APP0), else right after SOI.
size_t paddingPosition(const uint8_t* data, size_t size) {
  if (size >= 6 && data[2] == 0xFF && data[3] == 0xE0) {
    size_t length = (static_cast<size_t>(data[4]) << 8) | data[5];
    if (4 + length <= size) return 4 + length;
  }
  return 2;
}

}  // namespace

CameraPicture::CameraPicture() : handle_(tjInitCompress()) {}

CameraPicture::~CameraPicture() {
  if (out_) tjFree(out_);
  if (handle_) tjDestroy(static_cast<tjhandle>(handle_));
}

void CameraPicture::prepare(int width, int height) {
  if (width == width_ && height == height_) return;
  width_ = width;
  height_ = height;
  // The scene: sky, horizon, a grey road narrowing towards the horizon with a centre line.
  sceneY_.assign(static_cast<size_t>(width) * height, 0);
  int horizon = height * 2 / 5;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = sceneY_.data() + static_cast<size_t>(y) * width;
    if (y < horizon) {
      memset(row, 170 + (y * 40) / std::max(1, horizon), static_cast<size_t>(width));
      continue;
    }
    memset(row, 90, static_cast<size_t>(width));  // verge
    int depth = y - horizon, span = height - horizon;
    int half = width / 20 + (width * 9 / 20) * depth / std::max(1, span);
    fillRect(sceneY_, width, width / 2 - half, y, 2 * half, 1, 60, width, height);
    if ((depth / 12) % 2 == 0) fillRect(sceneY_, width, width / 2 - 2 - depth / 40, y, 4 + depth / 20, 1, 220, width, height);
  }
  y_ = sceneY_;
  u_.assign(static_cast<size_t>((width + 1) / 2) * ((height + 1) / 2), 118);
  v_.assign(u_.size(), 132);
  stripKey_ = -1;
  if (out_) tjFree(out_);
  outCapacity_ = tjBufSize(width, height, TJSAMP_420);
  out_ = tjAlloc(static_cast<int>(outCapacity_));
}

void CameraPicture::drawTimeStrip(const struct tm& t) {
  char date[48], time[48];
  snprintf(date, sizeof date, "%04d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
  snprintf(time, sizeof time, "%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
  // The strip covers the sky; redraw it from the scene, then the text.
  int stripH = height_ * 2 / 5;
  memcpy(y_.data(), sceneY_.data(), static_cast<size_t>(stripH) * width_);
  int scale = std::max(1, width_ / 160);
  drawText(y_, width_, height_, width_ / 16, height_ / 24, scale, date);
  drawText(y_, width_, height_, width_ / 16, height_ / 24 + (kGlyphH + 3) * scale * 2, scale * 2, time);
}

void CameraPicture::drawFrameArea(int frameNumber, int rate) {
  // The road: redrawn from the scene, then the frame number and a marker that walks across
  // the picture with it (a frame out of order shows as a jump).
  int top = height_ * 2 / 5;
  memcpy(y_.data() + static_cast<size_t>(top) * width_, sceneY_.data() + static_cast<size_t>(top) * width_,
         static_cast<size_t>(height_ - top) * width_);
  char text[16];
  snprintf(text, sizeof text, "#%02d", frameNumber);
  int scale = std::max(1, width_ / 80);
  drawText(y_, width_, height_, width_ - (4 * (kGlyphW + 1) + 2) * scale, height_ - (kGlyphH + 3) * scale, scale, text);
  int steps = std::max(1, rate);
  int markerW = std::max(4, width_ / (steps + 1));
  int x = (width_ - markerW) * (frameNumber % steps) / std::max(1, steps - 1);
  fillRect(y_, width_, x, top + 2, markerW, std::max(2, height_ / 40), 250, width_, height_);
}

CameraPicture::Jpeg CameraPicture::encode(int width, int height, const struct tm& localTime, int frameNumber,
                                          int rate) {
  if (handle_ == nullptr || width <= 0 || height <= 0) return {};
  prepare(width, height);
  time_t key = static_cast<time_t>(localTime.tm_sec) + 60 * (localTime.tm_min + 60 * (localTime.tm_hour +
               24 * (localTime.tm_mday + 32 * (localTime.tm_mon + 13 * static_cast<time_t>(localTime.tm_year)))));
  if (key != stripKey_) {
    drawTimeStrip(localTime);
    stripKey_ = key;
  }
  drawFrameArea(frameNumber, rate);
  const unsigned char* planes[3] = {y_.data(), u_.data(), v_.data()};
  int strides[3] = {width, (width + 1) / 2, (width + 1) / 2};
  unsigned long size = outCapacity_;
  if (tjCompressFromYUVPlanes(static_cast<tjhandle>(handle_), planes, width, strides, height, TJSAMP_420, &out_,
                              &size, kQuality, TJFLAG_NOREALLOC | TJFLAG_FASTDCT) != 0) {
    return {};
  }
  return {out_, static_cast<size_t>(size)};
}

size_t CameraPicture::paddedSize(size_t jpegSize, size_t targetSize) {
  if (jpegSize >= targetSize) return jpegSize;
  // A segment is at least its 4 header bytes, so a tiny shortfall pads by 4.
  return jpegSize + std::max<size_t>(targetSize - jpegSize, 4);
}

size_t CameraPicture::copyPadded(const Jpeg& jpeg, size_t targetSize, uint8_t* out, size_t capacity) {
  size_t total = paddedSize(jpeg.size, targetSize);
  if (jpeg.data == nullptr || jpeg.size < 2 || total > capacity) return 0;
  size_t at = paddingPosition(jpeg.data, jpeg.size);
  memcpy(out, jpeg.data, at);
  size_t w = at;
  size_t remaining = total - jpeg.size;
  while (remaining > 0) {
    size_t chunk = std::min(remaining - 4, kMaxSegmentPayload);
    size_t left = remaining - (chunk + 4);
    if (left > 0 && left < 4) chunk -= 4;  // leave room for a whole segment after this one
    out[w++] = 0xFF;
    out[w++] = kApp15;
    out[w++] = static_cast<uint8_t>((chunk + 2) >> 8);
    out[w++] = static_cast<uint8_t>((chunk + 2) & 0xFF);
    memset(out + w, 0, chunk);
    w += chunk;
    remaining -= chunk + 4;
  }
  memcpy(out + w, jpeg.data + at, jpeg.size - at);
  return w + (jpeg.size - at);
}

}  // namespace sim
