// The report page: a table of the recordings, then per recording a frame player, its G values
// and its track; recorder-sim's run on top when its timeline is known. Frames are written beside
// the page as JPEG files and referenced relatively, so the page opens from the file system.
#include "report.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "command.h"

namespace vdr {

namespace {

namespace fs = std::filesystem;

const char* const kStyle = R"(
body { font: 14px sans-serif; margin: 1em 2em; color: #222; }
table.recordings { border-collapse: collapse; }
table.recordings td, table.recordings th { border: 1px solid #bbb; padding: 2px 8px; text-align: left; }
tr.damaged td { background: #fdd; }
section.recording { margin: 2em 0; border-top: 2px solid #888; }
.player { display: flex; gap: 1em; align-items: flex-start; flex-wrap: wrap; }
img.frame { width: 480px; background: #000; min-height: 120px; }
.frame-info { font-family: monospace; white-space: pre; }
svg { background: #fff; }
svg.gplot { width: 800px; } svg.track { width: 300px; } svg.run { width: 1000px; }
.plot-area { fill: #f8f8f8; stroke: #ccc; }
polyline { fill: none; stroke-width: 1.5; }
polyline.gx, text.gx { stroke: #c00; fill: #c00; } polyline.gy, text.gy { stroke: #080; fill: #080; }
polyline.gz, text.gz { stroke: #00c; fill: #00c; }
text.legend { stroke: none; }
polyline.gx, polyline.gy, polyline.gz { fill: none; }
line.zero { stroke: #aaa; stroke-dasharray: 4 3; }
line.trigger-mark { stroke: #f80; stroke-width: 3; } text.trigger-label { fill: #f80; }
line.cursor { stroke: #555; }
polyline.track-line { stroke: #06c; stroke-width: 2.5; }
circle.track-start { fill: #0a0; } circle.track-end { fill: #c00; }
rect.supply-on { fill: #8c8; } rect.pattern { fill: #fc6; stroke: #a80; } rect.recording-span { fill: #69c; }
g line { stroke: #333; } g.shock line { stroke: #c00; stroke-width: 2; } g text { font-size: 10px; }
text.tick { font-size: 10px; }
#errors { color: #c00; }
)";

const char* const kScript = R"(
window.addEventListener('error', function (e) {
  document.getElementById('errors').textContent += 'error: ' + e.message + '\n';
});
document.querySelectorAll('section.recording').forEach(function (section) {
  var frames = JSON.parse(section.querySelector('script.frames').textContent);
  var img = section.querySelector('img.frame');
  var seek = section.querySelector('input.seek');
  var info = section.querySelector('.frame-info');
  var button = section.querySelector('button.play');
  var plot = section.querySelector('svg.gplot');
  var cursor = plot ? plot.querySelector('line.cursor') : null;
  var index = 0, timer = null;
  function show(n) {
    index = n;
    var f = frames[n];
    img.src = f.src;
    seek.value = n;
    info.textContent = 'frame ' + (n + 1) + ' of ' + frames.length + '\n' + f.time + '\n' +
        (f.gps ? 'speed ' + f.speed + ' km/h  ' + f.lat.toFixed(5) + ', ' + f.lon.toFixed(5) : 'no position') + '\n' +
        'G  x ' + f.gx + '  y ' + f.gy + '  z ' + f.gz + '\n' + f.kind;
    if (cursor) {
      var left = parseFloat(plot.dataset.left), width = parseFloat(plot.dataset.width);
      var span = parseFloat(plot.dataset.span);
      var x = left + f.s / span * width;
      cursor.setAttribute('x1', x);
      cursor.setAttribute('x2', x);
    }
  }
  function stop() {
    clearTimeout(timer);
    timer = null;
    button.textContent = 'play';
  }
  // Frames follow each other at their own times: the recording's rate, gaps included.
  function step() {
    if (index + 1 >= frames.length) { stop(); return; }
    var wait = (frames[index + 1].s - frames[index].s) * 1000;
    timer = setTimeout(function () { show(index + 1); step(); }, Math.max(wait, 1));
  }
  button.addEventListener('click', function () {
    if (timer) { stop(); return; }
    if (index + 1 >= frames.length) show(0);
    button.textContent = 'pause';
    step();
  });
  seek.addEventListener('input', function () { stop(); show(parseInt(seek.value, 10)); });
  if (frames.length) show(0);
});
document.body.dataset.ready = '1';
)";

std::string kindText(uint8_t kind) {
  switch (kind) {
    case vr::kFrameContinuous: return "continuous";
    case vr::kFrameBefore: return "before the trigger";
    case vr::kFrameAfter: return "after the trigger";
    default: return "kind " + std::to_string(kind);
  }
}

std::string jsonString(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '<') {
      out += "\\u003c";  // never "</script>" inside the data block
      continue;
    }
    out += c;
  }
  return out + "\"";
}


std::string number(double v, int decimals) {
  char buf[48];
  snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

// Writes the frames of one recording to DIR/frames/N/ and gives its player's data block.
std::string framesJson(const Recording& r, const std::string& outDir, int n, size_t* written) {
  std::string rel = "frames/" + std::to_string(n);
  fs::create_directories(outDir + "/" + rel);
  std::vector<uint8_t> record;
  std::string json = "[";
  double t0 = r.frames.empty() ? 0 : static_cast<double>(entrySeconds(r.frames[0].entry)) + r.frames[0].entry.millisecond.get() / 1000.0;
  bool first = true;
  for (size_t i = 0; i < r.frames.size(); ++i) {
    if (!readFrameRecord(r, i, &record)) continue;  // a damaged record is left out of the player
    char name[32];
    snprintf(name, sizeof name, "/%05zu.jpg", i);
    std::ofstream(outDir + "/" + rel + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(record.data()), static_cast<std::streamsize>(record.size()));
    ++*written;
    const vr::FrameIndexEntry& e = r.frames[i].entry;
    double s = static_cast<double>(entrySeconds(e)) + e.millisecond.get() / 1000.0 - t0;
    json += std::string(first ? "" : ",\n") + "{\"src\":" + jsonString(rel + name) + ",\"s\":" + number(s, 3) +
            ",\"time\":" + jsonString(frameTimeText(e)) + ",\"kind\":" + jsonString(kindText(e.kind)) +
            ",\"gx\":" + std::to_string(e.gx.get()) + ",\"gy\":" + std::to_string(e.gy.get()) +
            ",\"gz\":" + std::to_string(e.gz.get()) + ",\"gps\":" + (e.gpsValid ? "true" : "false") +
            ",\"speed\":" + std::to_string(e.speed.get()) + ",\"lat\":" + number(toDegrees(e.latitude.get()), 7) +
            ",\"lon\":" + number(toDegrees(e.longitude.get()), 7) + "}";
    first = false;
  }
  return json + "]";
}

std::string channelOf(const Recording& r) { return r.channel.empty() ? "-" : r.channel; }

}  // namespace

bool writeReport(const ReportInput& in) {
  std::error_code ec;
  fs::create_directories(in.outDir, ec);
  if (ec) {
    fprintf(stderr, "vdrtool: %s: %s\n", in.outDir.c_str(), ec.message().c_str());
    return false;
  }
  std::vector<Recording> recordings;
  for (const std::string& base : in.bases) recordings.push_back(readRecording(base, true));

  std::string html = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>Recordings: " +
                     htmlEscape(in.source) + "</title>\n<style>" + kStyle + "</style></head>\n<body>\n";
  html += "<h1>Recordings of " + htmlEscape(in.source) + "</h1>\n<pre id=\"errors\"></pre>\n";

  if (!in.timelinePath.empty()) {
    std::ifstream timeline(in.timelinePath);
    std::vector<TimelineEntry> entries;
    TimelineEntry e;
    for (std::string line; std::getline(timeline, line);) {
      if (parseTimelineLine(line, &e)) entries.push_back(e);
    }
    html += "<h2>The run (" + htmlEscape(in.timelinePath) + ")</h2>\n" + runSvg(entries, recordings);
  }

  html += "<h2>" + std::to_string(recordings.size()) + " recordings</h2>\n<table class=\"recordings\">\n"
          "<tr><th>#</th><th>recording</th><th>kind</th><th>trigger</th><th>time</th><th>length</th>"
          "<th>frames</th><th>damaged</th></tr>\n";
  for (size_t i = 0; i < recordings.size(); ++i) {
    const Recording& r = recordings[i];
    std::string n = std::to_string(i + 1);
    html += std::string("<tr class=\"recording-row") + (r.problems.empty() ? "" : " damaged") + "\"><td><a href=\"#rec-" +
            n + "\">" + n + "</a></td><td>" + htmlEscape(r.name) + "</td><td>" + htmlEscape(channelOf(r)) + "</td><td>" +
            triggerName(r.triggerType()) + "</td><td>" +
            (r.frames.empty() ? "-" : frameTimeText(r.frames.front().entry)) + "</td><td>" +
            number(r.durationSeconds(), 1) + " s</td><td>" + std::to_string(r.frames.size()) + "</td><td>" +
            (r.problems.empty() ? "no" : "yes: " + htmlEscape(r.problems.front())) + "</td></tr>\n";
  }
  html += "</table>\n";

  size_t frames = 0;
  for (size_t i = 0; i < recordings.size(); ++i) {
    const Recording& r = recordings[i];
    std::string n = std::to_string(i + 1);
    html += "<section class=\"recording\" id=\"rec-" + n + "\">\n<h3>" + n + ". " + htmlEscape(r.name) + " (" +
            htmlEscape(channelOf(r)) + ", trigger " + triggerName(r.triggerType()) + ")</h3>\n";
    for (const std::string& p : r.problems) html += "<p class=\"problem\">damaged: " + htmlEscape(p) + "</p>\n";
    html += "<script type=\"application/json\" class=\"frames\">" + framesJson(r, in.outDir, static_cast<int>(i + 1), &frames) +
            "</script>\n";
    html += "<div class=\"player\"><div><img class=\"frame\" alt=\"frame\"><br>\n"
            "<button class=\"play\">play</button> <input class=\"seek\" type=\"range\" min=\"0\" max=\"" +
            std::to_string(r.frames.empty() ? 0 : r.frames.size() - 1) + "\" value=\"0\" style=\"width:380px\"></div>\n"
            "<div class=\"frame-info\"></div>\n" + trackSvg(r) + "</div>\n";
    html += "<h4>G values (X red, Y green, Z blue) over the recording</h4>\n" + gPlotSvg(r) + "</section>\n";
  }
  html += "<script>" + std::string(kScript) + "</script>\n</body></html>\n";

  std::string page = in.outDir + "/index.html";
  std::ofstream out(page, std::ios::trunc);
  out << html;
  out.close();
  if (!out) {
    fprintf(stderr, "vdrtool: %s: write failed\n", page.c_str());
    return false;
  }
  printf("%zu recordings, %zu frames: %s\n", recordings.size(), frames, page.c_str());
  return true;
}

}  // namespace vdr
