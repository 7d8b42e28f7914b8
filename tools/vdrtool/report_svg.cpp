// The drawings of the report: G values over a recording, its track, and a recorder-sim run.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "report.h"

namespace vdr {

namespace {

double frameSeconds(const Recording& r, size_t i) {
  const vr::FrameIndexEntry& e = r.frames[i].entry;
  const vr::FrameIndexEntry& first = r.frames.front().entry;
  return static_cast<double>(entrySeconds(e) - entrySeconds(first)) +
         (static_cast<double>(e.millisecond.get()) - first.millisecond.get()) / 1000.0;
}

// Plot area of every chart: left margin for labels, the rest for data.
constexpr double kWidth = 800, kLeft = 50, kRight = 10, kTop = 10;

}  // namespace

std::string svgNum(double v) {
  char buf[32];
  snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

std::string htmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

int triggerFrame(const Recording& r) {
  for (size_t i = 0; i < r.frames.size(); ++i) {
    if (r.frames[i].entry.kind == vr::kFrameAfter) return static_cast<int>(i);
  }
  return -1;
}

std::string gPlotSvg(const Recording& r) {
  const double height = 200, plotH = height - kTop - 25, plotW = kWidth - kLeft - kRight;
  double span = r.frames.size() > 1 ? frameSeconds(r, r.frames.size() - 1) : 1;
  if (span <= 0) span = 1;
  int lo = 0, hi = 0;
  for (const Frame& f : r.frames) {
    for (int v : {f.entry.gx.get(), f.entry.gy.get(), f.entry.gz.get()}) {
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
  }
  if (hi == lo) hi = lo + 1;
  auto x = [&](double s) { return kLeft + s / span * plotW; };
  auto y = [&](double v) { return kTop + (hi - v) / (hi - lo) * plotH; };
  std::string svg = "<svg class=\"gplot\" viewBox=\"0 0 " + svgNum(kWidth) + " " + svgNum(height) + "\" data-left=\"" +
                    svgNum(kLeft) + "\" data-width=\"" + svgNum(plotW) + "\" data-span=\"" + svgNum(span) + "\">\n";
  svg += "<rect x=\"" + svgNum(kLeft) + "\" y=\"" + svgNum(kTop) + "\" width=\"" + svgNum(plotW) + "\" height=\"" + svgNum(plotH) +
         "\" class=\"plot-area\"/>\n";
  svg += "<line class=\"zero\" x1=\"" + svgNum(kLeft) + "\" x2=\"" + svgNum(kLeft + plotW) + "\" y1=\"" + svgNum(y(0)) +
         "\" y2=\"" + svgNum(y(0)) + "\"/>\n";
  svg += "<text x=\"4\" y=\"" + svgNum(kTop + 10) + "\">" + std::to_string(hi) + "</text><text x=\"4\" y=\"" +
         svgNum(kTop + plotH) + "\">" + std::to_string(lo) + "</text>\n";
  const char* names[3] = {"gx", "gy", "gz"};
  for (int axis = 0; axis < 3; ++axis) {
    std::string points;
    for (size_t i = 0; i < r.frames.size(); ++i) {
      const vr::FrameIndexEntry& e = r.frames[i].entry;
      int v = axis == 0 ? e.gx.get() : axis == 1 ? e.gy.get() : e.gz.get();
      points += (i ? " " : "") + svgNum(x(frameSeconds(r, i))) + "," + svgNum(y(v));
    }
    svg += "<polyline class=\"axis " + std::string(names[axis]) + "\" points=\"" + points + "\"/>\n";
  }
  int trigger = triggerFrame(r);
  if (trigger >= 0) {
    double tx = x(frameSeconds(r, static_cast<size_t>(trigger)));
    svg += "<line class=\"trigger-mark\" x1=\"" + svgNum(tx) + "\" x2=\"" + svgNum(tx) + "\" y1=\"" + svgNum(kTop) +
           "\" y2=\"" + svgNum(kTop + plotH) + "\"/><text class=\"trigger-label\" x=\"" + svgNum(tx + 3) + "\" y=\"" +
           svgNum(kTop + 12) + "\">trigger</text>\n";
  }
  svg += "<line class=\"cursor\" x1=\"" + svgNum(kLeft) + "\" x2=\"" + svgNum(kLeft) + "\" y1=\"" + svgNum(kTop) + "\" y2=\"" +
         svgNum(kTop + plotH) + "\"/>\n";
  svg += "<text x=\"" + svgNum(kLeft) + "\" y=\"" + svgNum(height - 5) + "\">0 s</text><text x=\"" +
         svgNum(kLeft + plotW - 40) + "\" y=\"" + svgNum(height - 5) + "\">" + svgNum(span) + " s</text>\n";
  svg += "<text class=\"legend gx\" x=\"" + svgNum(kLeft + 60) + "\" y=\"" + svgNum(height - 5) +
         "\">X</text><text class=\"legend gy\" x=\"" + svgNum(kLeft + 80) + "\" y=\"" + svgNum(height - 5) +
         "\">Y</text><text class=\"legend gz\" x=\"" + svgNum(kLeft + 100) + "\" y=\"" + svgNum(height - 5) + "\">Z</text>\n";
  return svg + "</svg>\n";
}

std::string trackSvg(const Recording& r) {
  std::vector<std::pair<double, double>> fixes;  // longitude, latitude in degrees
  for (const Frame& f : r.frames) {
    if (f.entry.gpsValid) fixes.emplace_back(toDegrees(f.entry.longitude.get()), toDegrees(f.entry.latitude.get()));
  }
  if (fixes.empty()) return "";
  double minLon = fixes[0].first, maxLon = minLon, minLat = fixes[0].second, maxLat = minLat;
  for (const auto& [lon, lat] : fixes) {
    minLon = std::min(minLon, lon);
    maxLon = std::max(maxLon, lon);
    minLat = std::min(minLat, lat);
    maxLat = std::max(maxLat, lat);
  }
  // Equirectangular, east-west shrunk by the latitude's cosine so that the shape is true; a
  // track of one point or a straight line still gets an area.
  double k = std::cos((minLat + maxLat) / 2 * M_PI / 180);
  double w = std::max((maxLon - minLon) * k, 1e-6), h = std::max(maxLat - minLat, 1e-6);
  const double size = 300, pad = 10, scale = (size - 2 * pad) / std::max(w, h);
  auto px = [&](double lon) { return pad + (lon - minLon) * k * scale; };
  auto py = [&](double lat) { return size - pad - (lat - minLat) * scale; };
  std::string points;
  for (size_t i = 0; i < fixes.size(); ++i) points += (i ? " " : "") + svgNum(px(fixes[i].first)) + "," + svgNum(py(fixes[i].second));
  std::string svg = "<svg class=\"track\" viewBox=\"0 0 300 300\" data-point-count=\"" + std::to_string(fixes.size()) +
                    "\">\n<rect x=\"0\" y=\"0\" width=\"300\" height=\"300\" class=\"plot-area\"/>\n";
  svg += "<polyline class=\"track-line\" points=\"" + points + "\"/>\n";
  svg += "<circle class=\"track-start\" r=\"4\" cx=\"" + svgNum(px(fixes.front().first)) + "\" cy=\"" +
         svgNum(py(fixes.front().second)) + "\"/>\n";
  svg += "<circle class=\"track-end\" r=\"4\" cx=\"" + svgNum(px(fixes.back().first)) + "\" cy=\"" +
         svgNum(py(fixes.back().second)) + "\"/>\n";
  char caption[160];
  snprintf(caption, sizeof caption, "%.5f, %.5f to %.5f, %.5f", fixes.front().second, fixes.front().first,
           fixes.back().second, fixes.back().first);
  svg += "<text x=\"6\" y=\"294\">" + std::string(caption) + "</text>\n";
  return svg + "</svg>\n";
}

}  // namespace vdr
