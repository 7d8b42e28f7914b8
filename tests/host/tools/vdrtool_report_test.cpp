// vdrtool report: the page loads in a real browser (headless Chromium) without an error, and
// what it draws matches the card: one row per recording, the trigger marks, the track's points.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "pair_writer.h"
#include "report.h"

namespace {

namespace fs = std::filesystem;
using vdrtest::runTool;

class VdrtoolReport : public vdrtest::PairWriter {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vdrtool-report-XXXXXX";
    scratch = mkdtemp(pattern);
  }
  void TearDown() override { fs::remove_all(scratch); }
  std::string scratch;
};

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::string chromium() {
  for (const char* p : {"/usr/bin/chromium", "/usr/bin/chromium-browser"}) {
    if (fs::exists(p)) return p;
  }
  return "";
}

TEST_F(VdrtoolReport, LoadsInChromiumWithoutErrorsAndDrawsTheCard) {
  if (chromium().empty()) GTEST_SKIP() << "chromium is not installed";
  vdrtest::PairOptions o;
  o.frames = 25;
  o.beforeFrames = 10;
  o.triggerType = 1;
  o.positions = true;
  writePair(o);
  o.frames = 15;
  o.beforeFrames = 5;
  o.triggerType = 2;
  o.positions = false;
  o.startOffset = 60;
  writePair(o);

  std::string out = scratch + "/report";
  vdrtest::ToolRun r = runTool(VDRTOOL_PATH, {"report", card.dir(), "-o", out});
  ASSERT_EQ(r.code, 0) << r.err;
  ASSERT_TRUE(fs::exists(out + "/index.html"));
  EXPECT_TRUE(fs::exists(out + "/frames/1/00024.jpg"));

  vdrtest::ToolRun page = runTool("timeout", {"120", chromium(), "--headless", "--no-sandbox", "--disable-gpu",
                                              "--user-data-dir=" + scratch + "/profile", "--enable-logging=stderr",
                                              "--v=0", "--dump-dom", "file://" + out + "/index.html"});
  ASSERT_EQ(page.code, 0) << page.err;
  const std::string& dom = page.out;
  // No console message at all: no script error, no frame that failed to load.
  EXPECT_EQ(count(page.err, ":CONSOLE"), 0u) << page.err;
  EXPECT_NE(dom.find("<pre id=\"errors\"></pre>"), std::string::npos) << "an error reached the page";
  EXPECT_NE(dom.find("data-ready=\"1\""), std::string::npos) << "the page's script did not run to its end";

  EXPECT_EQ(count(dom, "<tr class=\"recording-row"), 2u);
  EXPECT_EQ(count(dom, "class=\"trigger-mark\""), 2u);
  EXPECT_EQ(count(dom, "<svg class=\"track\""), 1u) << "only the recording with positions has a track";
  std::smatch m;
  ASSERT_TRUE(std::regex_search(dom, m, std::regex("class=\"track-line\" points=\"([^\"]*)\"")));
  EXPECT_EQ(count(m[1].str(), ",") , 25u) << "one point per frame with a fix";
  // The player shows the first frame with its time and G values once the script ran.
  EXPECT_NE(dom.find("src=\"frames/1/00000.jpg\""), std::string::npos);
  EXPECT_NE(dom.find("2026-01-01 00:00:00.000"), std::string::npos);
}

TEST(ReportPieces, TheTriggerIsTheFirstFrameFromTheTriggerOn) {
  vdr::Recording r;
  r.frames.resize(6);
  for (size_t i = 0; i < 6; ++i) r.frames[i].entry.kind = i < 4 ? vr::kFrameBefore : vr::kFrameAfter;
  EXPECT_EQ(vdr::triggerFrame(r), 4);
  for (auto& f : r.frames) f.entry.kind = vr::kFrameContinuous;
  EXPECT_EQ(vdr::triggerFrame(r), -1) << "continuous recording outside an event period has no trigger";
  EXPECT_EQ(vdr::gPlotSvg(r).find("trigger-mark"), std::string::npos);
  EXPECT_EQ(vdr::trackSvg(r), "") << "no fix, no track";
}

TEST(ReportPieces, TimelineLinesAreReadWithTheirFields) {
  vdr::TimelineEntry e;
  ASSERT_TRUE(vdr::parseTimelineLine(
      R"({"time":"2026-06-01 08:00:02.942","t":2.942,"event":"console","text":"A \"quoted\", text: {x}"})", &e));
  EXPECT_DOUBLE_EQ(e.t, 2.942);
  EXPECT_EQ(e.event, "console");
  EXPECT_EQ(e.field("text"), "A \"quoted\", text: {x}");
  ASSERT_TRUE(vdr::parseTimelineLine(R"({"time":"x","t":100.004,"event":"shock","x":2500,"y":0,"z":0})", &e));
  EXPECT_EQ(e.field("x"), "2500");
  EXPECT_EQ(e.field("z"), "0");
  EXPECT_FALSE(vdr::parseTimelineLine("not json", &e));
  EXPECT_FALSE(vdr::parseTimelineLine(R"({"time":"x","t":1})", &e)) << "no event";

  std::vector<vdr::TimelineEntry> run(3);
  vdr::parseTimelineLine(R"({"time":"2026-06-01 08:00:00.000","t":0,"event":"run-start"})", &run[0]);
  vdr::parseTimelineLine(R"({"time":"2026-06-01 08:00:10.000","t":10,"event":"shock","x":1,"y":2,"z":3})", &run[1]);
  vdr::parseTimelineLine(R"({"time":"2026-06-01 08:00:20.000","t":20,"event":"power","supply":false})", &run[2]);
  std::string svg = vdr::runSvg(run, {});
  EXPECT_EQ(count(svg, "class=\"shock\""), 1u);
  EXPECT_EQ(count(svg, "class=\"supply-on\""), 1u) << "on from the start until the cut";
}

}  // namespace
