// Recording end to end: recorder-sim runs the program on the simulated board with the clock sped
// up, and the card is read back afterwards with the PC's tools (the recordings reader of
// vdrtool, djpeg, fsck.fat). Times in the scenarios are seconds of the run; the board's card is
// prepared beforehand, so the program starts at once and its capacitor is announced 45 s later.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <strings.h>
#include <sys/stat.h>
#include <string>
#include <vector>

#include "board/card/card_image.h"
#include "board/card/card_store.h"
#include "board/card/fat_image.h"
#include "board/host_tools.h"
#include "card_image.h"
#include "recording.h"
#include "prepared_card.h"
#include "support/sim_run.h"

namespace {

namespace fs = std::filesystem;
using testing_board::SimRun;

constexpr int kEventRate = 10;  // PRERECINT1 of the default settings
// The recording thread's trace of a trigger it drops because the card is full.
constexpr const char* kIgnoredWhenFull = "Ignore MSG_TRIGGER.... SD Full";

int64_t secondOf(const vr::FrameIndexEntry& e) { return vdr::entrySeconds(e); }  // the board runs in UTC

int64_t millisecondsOf(const vr::FrameIndexEntry& e) { return secondOf(e) * 1000 + e.millisecond.get(); }

int countOf(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

double timeOf(const std::string& timelineLine) {
  std::smatch m;
  if (!std::regex_search(timelineLine, m, std::regex("\"t\":([0-9.]+)"))) return -1;
  return std::stod(m[1]);
}

std::string patternName(const std::string& timelineLine) {
  std::smatch m;
  if (!std::regex_search(timelineLine, m, std::regex("\"name\":\"([a-z_]+)\""))) return "";
  return m[1];
}

class RecordingE2E : public PreparedCardE2E {
 protected:
  SimRun run(const std::string& scenario, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--speed", "20", "--start", "2026-06-01 08:00:00"};
    args.insert(args.end(), extra.begin(), extra.end());
    SimRun r = testing_board::runSim(RECORDER_SIM_PATH, dir, args, scenario);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return r;
  }
  // Runs until the program's console holds the text `count` times, then stops.
  SimRun runUntil(const std::string& scenario, const std::string& text, int count = 1) {
    std::vector<std::string> args = {"--speed", "20", "--start", "2026-06-01 08:00:00"};
    SimRun r = testing_board::runSimUntil(RECORDER_SIM_PATH, dir, args, scenario, text, count);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return r;
  }

  // Names of the files in a directory of the card, read without mounting it.
  std::vector<std::string> cardNames(const std::string& cardDir) {
    std::vector<sim::CardEntry> entries;
    std::string error;
    if (backend == sim::CardBackend::Fuse) {
      sim::FatImage fat;
      EXPECT_TRUE(fat.open(sim::cardImagePath(dir), &error) && fat.list(&entries, &error)) << error;
    } else {
      sim::CardState s;
      EXPECT_TRUE(sim::loadCardState(dir, &s));
      EXPECT_TRUE(sim::openCardStore(dir, s)->list(&entries, &error)) << error;
    }
    std::vector<std::string> names;
    for (const auto& e : entries) {
      if (!e.directory && strcasecmp(fs::path(e.path).parent_path().c_str(), cardDir.c_str()) == 0) {
        names.push_back(fs::path(e.path).filename().string());
      }
    }
    return names;
  }

  void expectSoundImage() {
    if (backend != sim::CardBackend::Fuse) return;
    std::string report;
    EXPECT_EQ(sim::runTool({"fsck.fat", "-n", sim::cardImagePath(dir)}, &report), 0) << report;
  }

  // Every frame record is one picture: the 65-byte comment block, then the encoder's segments,
  // and djpeg decodes it.
  void expectFramesArePictures(const vdr::Recording& r) {
    std::string path = dir + ".frame.jpg";
    std::vector<uint8_t> record;
    int decoded = 0;
    for (size_t i = 0; i < r.frames.size(); ++i) {
      ASSERT_TRUE(vdr::readFrameRecord(r, i, &record));
      ASSERT_GT(record.size(), vr::kCommentBlockSize + 2);
      EXPECT_EQ(record[4] << 8 | record[5], vr::kCommentSegmentLength);
      EXPECT_EQ(record[vr::kCommentBlockSize], 0xFF) << "frame " << i << ": the comment segment ends at 65";
      EXPECT_NE(record[vr::kCommentBlockSize + 1], 0xD8) << "frame " << i << ": the camera's start of image is dropped";
      std::ofstream(path, std::ios::binary | std::ios::trunc)
          .write(reinterpret_cast<const char*>(record.data()), static_cast<std::streamsize>(record.size()));
      std::string output;
      if (sim::runTool({"djpeg", "-outfile", "/dev/null", path}, &output) == 0 && output.empty()) ++decoded;
    }
    fs::remove(path);
    EXPECT_EQ(decoded, static_cast<int>(r.frames.size()));
  }

};

// Checks an event pair around its trigger and gives the trigger second: the instant lies between
// the last frame of kind 2 and the first of kind 3.
int64_t expectEventPair(const vdr::Recording& r, int sequence) {
  EXPECT_TRUE(r.problems.empty()) << r.name << ": " << (r.problems.empty() ? "" : r.problems.front());
  EXPECT_TRUE(r.nameValid);
  EXPECT_EQ(r.parsedName.sequence, sequence);
  EXPECT_EQ(r.triggerType(), 2) << "index header byte 7: the REC button";
  EXPECT_EQ(r.headers.size(), 1u);
  EXPECT_EQ(r.indexSize, 66 * r.frames.size() + 26);
  auto firstAfter = std::find_if(r.frames.begin(), r.frames.end(), [](const vdr::Frame& f) { return f.entry.kind == 3; });
  if (firstAfter == r.frames.begin() || firstAfter == r.frames.end()) {
    ADD_FAILURE() << r.name << ": no frames on both sides of the trigger";
    return 0;
  }
  const vr::FrameIndexEntry& first3 = firstAfter->entry;
  int64_t trigger = first3.millisecond.get() > 0 ? secondOf(first3) : secondOf(first3) - 1;
  EXPECT_TRUE(std::all_of(r.frames.begin(), firstAfter, [](const vdr::Frame& f) { return f.entry.kind == 2; }));
  EXPECT_TRUE(std::all_of(firstAfter, r.frames.end(), [](const vdr::Frame& f) { return f.entry.kind == 3; }));
  // The seconds T - 15 to T + 5, every frame of each, in capture order.
  std::map<int64_t, int> perSecond;
  for (size_t i = 0; i < r.frames.size(); ++i) {
    ++perSecond[secondOf(r.frames[i].entry)];
    if (i > 0) {
      EXPECT_LT(millisecondsOf(r.frames[i - 1].entry), millisecondsOf(r.frames[i].entry));
    }
    EXPECT_EQ(r.frames[i].entry.triggerType.get(), 2u);
  }
  EXPECT_EQ(perSecond.begin()->first, trigger - 15);
  EXPECT_EQ(perSecond.rbegin()->first, trigger + 5);
  EXPECT_EQ(perSecond.size(), 21u);
  for (const auto& [second, n] : perSecond) EXPECT_EQ(n, kEventRate) << "second " << second - trigger << " from T";
  return trigger;
}

TEST_F(RecordingE2E, EventRecordingHoldsTheSecondsAroundTheTriggerInOnePair) {
  SimRun r = runUntil("60 press rec\n", ": MSG_WRITE_END\n");
  std::string console = r.console();
  EXPECT_LT(console.find("@@@ MSG_SUPER_CAP_CHARGED"), console.find("SD write Start"));
  std::regex writeEnd("MAIN____[0-9]{4}: MSG_WRITE_END\n");
  EXPECT_EQ(std::distance(std::sregex_iterator(console.begin(), console.end(), writeEnd), std::sregex_iterator()), 1)
      << "the supervisor hears of the end once";

  auto pairs = recordings("event");
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_TRUE(recordings("normal").empty());
  int64_t trigger = expectEventPair(pairs[0], 1);
  // The name carries the local time of the first frame, the trigger's second minus 15.
  char name[64];
  time_t first = static_cast<time_t>(trigger - 15);
  struct tm tm;
  gmtime_r(&first, &tm);
  strftime(name, sizeof name, "0000000001,%Y.%m.%d,%H.%M.%S", &tm);
  EXPECT_EQ(pairs[0].name, name);
  expectFramesArePictures(pairs[0]);
  expectSoundImage();

  // What the user sees: the trigger beep, the writing pattern, and back to waiting.
  std::vector<std::string> names;
  for (const auto& line : r.events("pattern")) names.push_back(patternName(line));
  auto trig = std::find(names.begin(), names.end(), "trigger");
  ASSERT_NE(trig, names.end());
  EXPECT_EQ(std::count(names.begin(), names.end(), "trigger"), 1);
  EXPECT_NE(std::find(trig, names.end(), "post"), names.end());
  EXPECT_EQ(names.back() == "poweroff" ? names[names.size() - 2] : names.back(), "pre");
}

// A PC that reads the card sees the board's time on the recordings, not its own: the board's
// clock stands months away from the PC's here. The pair gets its dates when it is written, after
// its last frame and before the run ends (both in the board's time; FAT steps are 2 s). Read back
// with mtools (the image's dates kept by mcopy -m), or from the stand-in directory's files.
void expectBoardTimesOnThePair(const vdr::Recording& pair, const SimRun& run) {
  const int64_t start = 1780300800;  // 2026-06-01 08:00:00 UTC, the run's --start
  ASSERT_FALSE(pair.frames.empty());
  ASSERT_FALSE(run.timeline().empty());
  int64_t lastFrame = secondOf(pair.frames.back().entry);
  int64_t runEnd = start + static_cast<int64_t>(timeOf(run.timeline().back())) + 2;
  for (const char* ext : {vr::kDataExt, vr::kIndexExt}) {
    std::string path = pair.base + "." + ext;
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
    EXPECT_GE(st.st_mtime, lastFrame - 2) << path << " dated before its last frame";
    EXPECT_LE(st.st_mtime, runEnd) << path << " dated after the run";
  }
}

TEST_F(RecordingE2E, TheCardsFileDatesAreTheBoardsTime) {
  setenv("TZ", "UTC", 1);  // the board's zone, for mtools
  SimRun r = runUntil("60 press rec\n", "SD write End");
  auto pairs = recordings("event");
  ASSERT_EQ(pairs.size(), 1u);
  expectBoardTimesOnThePair(pairs[0], r);
  expectSoundImage();
}

TEST_F(RecordingE2E, TheStandInDirectorysFileDatesAreTheBoardsTime) {
  if (backend != sim::CardBackend::Directory) {
    // The same card, kept in a plain directory.
    testing_board::removeBoardDir(dir);
    fs::create_directories(dir);
    sim::CardState s;
    s.present = true;
    s.sizeK = sim::kDefaultCardSizeK;
    s.backend = sim::CardBackend::Directory;
    std::string error;
    ASSERT_TRUE(sim::prepareCardAsUnit(dir, s, &error)) << error;
    sim::saveCardState(dir, s);
    backend = s.backend;
  }
  SimRun r = runUntil("60 press rec\n", "SD write End");
  auto pairs = recordings("event");
  ASSERT_EQ(pairs.size(), 1u);
  expectBoardTimesOnThePair(pairs[0], r);
}

TEST_F(RecordingE2E, ASecondPressDuringTheWriteIsHeldBackAndLeavesThePairAlone) {
  // Stopped once the first pair is closed, however late the recording thread gets there.
  SimRun r = runUntil("60 press rec\n62 press rec\n", "SD write End");
  EXPECT_EQ(r.events("button", "\"pressed\"").size(), 2u);
  auto pairs = recordings("event");
  ASSERT_GE(pairs.size(), 1u);
  int64_t trigger = expectEventPair(pairs[0], 1);
  EXPECT_EQ(pairs[0].frames.size(), 21u * kEventRate);
  // Held back by the supervisor: it never reaches the recording thread during the write. (The
  // G-sensor thread re-sends a held trigger once the write has ended; a second pair may follow,
  // never overlapping the first.)
  EXPECT_EQ(r.console().find("Ignore MSG_TRIGGER"), std::string::npos);
  double end = -1;
  int triggersBeforeEnd = 0;
  for (const auto& line : r.events("pattern")) {
    std::string name = patternName(line);
    if (name == "pre" && timeOf(line) > 55 && end < 0) end = timeOf(line);
    if (name == "trigger" && end < 0) ++triggersBeforeEnd;
  }
  EXPECT_GT(end, 0);
  EXPECT_EQ(triggersBeforeEnd, 1);
  if (pairs.size() > 1) {
    EXPECT_GT(secondOf(pairs[1].frames.front().entry), trigger + 5);
  }
}

TEST_F(RecordingE2E, ContinuousRecordingRollsOverAtEveryTenthMinuteAndMarksTheEventPeriod) {
  constexpr int kRate = 5;  // a low continuous rate keeps the run light
  // From 07:58:30: the camera starts 5 s later and holds its frames until the capacitor is
  // charged, so the first pair begins about 07:58:35 and the recording runs over 08:00 and 08:10.
  // REC triggers only (TRGSET=2): the run is long, and on a PC slow enough to sample the
  // G-sensor seconds apart (a sanitizer build with both cores busy), the drive's own braking
  // can pass for a shock and add a G-sensor period.
  SimRun r = run("0 settings RECINGMODE1=1 PRERECINT1=5 POSTRECINT1=5 TRGSET=2\n300 press rec\n720 stop\n",
                 {"--start", "2026-06-01 07:58:30"});
  auto pairs = recordings("normal");
  EXPECT_TRUE(recordings("event").empty());
  ASSERT_GE(pairs.size(), 2u);
  ASSERT_LE(pairs.size(), 3u);
  int kind3 = 0;
  for (size_t p = 0; p < pairs.size(); ++p) {
    const vdr::Recording& rec = pairs[p];
    EXPECT_TRUE(rec.problems.empty()) << rec.name << ": " << (rec.problems.empty() ? "" : rec.problems.front());
    EXPECT_EQ(rec.parsedName.sequence, static_cast<int>(p + 1));
    EXPECT_EQ(rec.triggerType(), 0);
    ASSERT_FALSE(rec.frames.empty());
    const vr::FrameIndexEntry& first = rec.frames.front().entry;
    if (p > 0) {
      EXPECT_EQ(first.minute.get() % 10, 0) << rec.name;
      EXPECT_EQ(first.second.get(), 0) << rec.name;
      EXPECT_EQ(first.millisecond.get(), 0) << rec.name;
      // Not a frame lost at the change of pair.
      EXPECT_EQ(millisecondsOf(first) - millisecondsOf(pairs[p - 1].frames.back().entry), 1000 / kRate);
    }
    for (size_t i = 1; i < rec.frames.size(); ++i) {
      EXPECT_EQ(millisecondsOf(rec.frames[i].entry) - millisecondsOf(rec.frames[i - 1].entry), 1000 / kRate)
          << rec.name << " frame " << i;
    }
    // One run of kind 3 frames of the trigger's type, from the trigger to the end of its
    // period (the trigger second + 5); kind 1 and no trigger type elsewhere.
    for (size_t i = 0; i < rec.frames.size(); ++i) {
      const vr::FrameIndexEntry& e = rec.frames[i].entry;
      if (e.kind == 3) {
        EXPECT_EQ(e.triggerType.get(), 2u);
        if (kind3 > 0) {
          EXPECT_EQ(rec.frames[i - 1].entry.kind, 3) << "one period, without gaps";
        }
        ++kind3;
        if (i + 1 < rec.frames.size() && rec.frames[i + 1].entry.kind != 3) {
          EXPECT_EQ(secondOf(rec.frames[i + 1].entry) - secondOf(e), 1) << "the period ends with a whole second";
        }
      } else {
        EXPECT_EQ(e.kind, 1);
        EXPECT_EQ(e.triggerType.get(), 0u);
      }
    }
  }
  // From the frame the trigger reached (within a second or so of it on a loaded PC) to the end
  // of the trigger's fifth second.
  EXPECT_GE(kind3, 2 * kRate);
  EXPECT_LE(kind3, 5 * kRate);
  // The rollovers and the period's end told the supervisor, which heard each end once.
  EXPECT_EQ(countOf(r.console(), "MSG_WRITE_END\n"), static_cast<int>(pairs.size()) - 1);
  std::vector<std::string> names;
  for (const auto& line : r.events("pattern")) names.push_back(patternName(line));
  auto trig = std::find(names.begin(), names.end(), "trigger");
  ASSERT_NE(trig, names.end());
  EXPECT_NE(std::find(trig, names.end(), "rec_continue"), names.end()) << "back to recording after the period";
  expectSoundImage();
}

TEST_F(RecordingE2E, RecMod1WithTheCardShortOfSpaceWritesNothing) {
  SimRun r = runUntil("0 settings RECMOD=1\n0 card fill free 150\n60 press rec\n", kIgnoredWhenFull);
  std::string console = r.console();
  EXPECT_NE(console.find("DISK is FULL by Capacity"), std::string::npos) << console;
  EXPECT_FALSE(r.events("pattern", "\"name\":\"full\"").empty());
  EXPECT_NE(console.find("MSG_SD_FULL"), std::string::npos) << "the disk space worker finds it full too";
  EXPECT_NE(console.find(kIgnoredWhenFull), std::string::npos);
  EXPECT_EQ(console.find("SD write Start"), std::string::npos);
  EXPECT_TRUE(cardNames("CH1/event").empty());
  expectSoundImage();
}

TEST_F(RecordingE2E, RecMod1WithTheEntryLimitReachedIgnoresContinuousTriggers) {
  SimRun r = runUntil("0 settings RECMOD=1 RECINGMODE1=1\n0 card fill recordings 1000 normal\n60 press rec\n",
                      kIgnoredWhenFull);
  std::string console = r.console();
  EXPECT_NE(console.find("DISK is FULL by Count 2000"), std::string::npos) << console;
  EXPECT_FALSE(r.events("pattern", "\"name\":\"full\"").empty());
  EXPECT_NE(console.find(kIgnoredWhenFull), std::string::npos);
  EXPECT_EQ(cardNames("CH1/normal").size(), 2000u);
}

TEST_F(RecordingE2E, RecMod2RemovesTheOldestPairsAnnouncesOverwriteOnceAndRecordingGoesOn) {
  // The entry limit reached: the first check (45 s) removes pair 1, the next (105 s) pair 2.
  SimRun r = runUntil("0 card fill recordings 1000\n60 press rec\n",
                      "remove(/mnt/log/ch1/event/0000000002,2025.01.01,00.01.00.vdx)");
  std::string console = r.console();
  std::regex announced("MAIN____[0-9]{4}: MSG_OVERWRITE_MODE\n");
  EXPECT_EQ(std::distance(std::sregex_iterator(console.begin(), console.end(), announced), std::sregex_iterator()), 1)
      << console;
  EXPECT_NE(console.find("remove(/mnt/log/ch1/event/0000000001,2025.01.01,00.00.00.vdd)"), std::string::npos) << console;
  EXPECT_NE(console.find("remove(/mnt/log/ch1/event/0000000002,2025.01.01,00.01.00.vdx)"), std::string::npos);
  EXPECT_FALSE(r.events("pattern", "\"name\":\"postov\"").empty()) << "the overwrite variant of the writing pattern";

  // 2000 - 2 at the first check, + 2 for the new pair, - 2 at the second check.
  std::vector<std::string> names = cardNames("CH1/event");
  std::sort(names.begin(), names.end());
  ASSERT_EQ(names.size(), 1998u);
  EXPECT_EQ(names.front(), "0000000003,2025.01.01,00.02.00.vdd");
  EXPECT_EQ(names.back().substr(0, 11), "0000001001,");
  auto pairs = recordings("event");
  ASSERT_FALSE(pairs.empty());
  expectEventPair(pairs.back(), 1001);
  expectSoundImage();
}

TEST_F(RecordingE2E, APowerCutDuringAnEventWriteClosesThePairThinnedWithinTheHoldUp) {
  // The capacitor of a writing board lasts 15 s, and the unmount is checked against that below;
  // the board is given 3 s more so that the pattern the program shows a second after the unmount
  // still shows when a loaded PC brings the unmount close to the 15 s. At half the other runs'
  // speed: the supervisor gives the thinned write 10 simulated seconds, which at speed 20 are
  // half a second of a sanitizer build sharing the PC with other runs.
  SimRun r = run("110 press rec\n112 power off\n140 stop\n", {"--hold-up", "18", "--speed", "10"});
  std::string console = r.console();
  // The stop follows the end of the write: either through MSG_WRITE_END, or through the power
  // thread's next event (every 250 ms) when the supervisor takes it after the recording thread
  // cleared gWritingSD and before its MSG_WRITE_END arrives. Both stop in order.
  size_t end = console.find("write to SD end... in power loss status");
  if (end == std::string::npos) end = console.find("KVOX_POWER_SWITCH 0", console.find("dskWriteEnd Success!!"));
  ASSERT_NE(end, std::string::npos) << console;
  EXPECT_EQ(console.find("Frame Skip Recoding Timeout"), std::string::npos);
  for (const char* step : {"~RecordThread()", "@@@ SD Umount Success!!"}) {
    EXPECT_NE(console.find(step, end), std::string::npos) << step;
  }
  // The card was unmounted before the capacitor ran out.
  auto power = r.events("power", "false");
  auto umount = r.events("card-umount");
  auto off = r.events("board-off");
  ASSERT_EQ(power.size(), 1u);
  ASSERT_FALSE(umount.empty());
  ASSERT_EQ(off.size(), 1u);
  EXPECT_LT(timeOf(umount.back()), timeOf(off[0]));
  EXPECT_LT(timeOf(umount.back()) - timeOf(power[0]), 15.0);
  EXPECT_FALSE(r.events("pattern", "\"name\":\"poweroff\"").empty());

  auto pairs = recordings("event");
  ASSERT_EQ(pairs.size(), 1u);
  const vdr::Recording& rec = pairs[0];
  EXPECT_TRUE(rec.problems.empty()) << (rec.problems.empty() ? "" : rec.problems.front());
  EXPECT_EQ(rec.indexSize, 66 * rec.frames.size() + 26) << "closed with its header";
  // Every frame up to the cut, then only every sixth frame number until the trigger + 5. The
  // thinning starts with the first frame written after the cut: on a slow card that may still
  // be one of the seconds before the trigger.
  size_t whole = 0;
  for (size_t i = 1; i < rec.frames.size(); ++i) {
    if (millisecondsOf(rec.frames[i].entry) - millisecondsOf(rec.frames[i - 1].entry) != 1000 / kEventRate) {
      whole = i;
      break;
    }
  }
  ASSERT_GT(whole, 0u) << "frames after the cut are thinned";
  for (size_t i = whole; i < rec.frames.size(); ++i) {
    int frameNumber = rec.frames[i].entry.millisecond.get() / (1000 / kEventRate);
    EXPECT_EQ(frameNumber % 6, 0) << "frame " << i << " after the cut";
  }
  int64_t firstSecond = secondOf(rec.frames.front().entry);
  int64_t lastSecond = secondOf(rec.frames.back().entry);
  EXPECT_EQ(lastSecond - firstSecond, 20) << "to the trigger + 5";
  EXPECT_LE(secondOf(rec.frames[whole].entry) - firstSecond, 15 + 4) << "thinning begins soon after the cut, 2 s after the trigger";
  expectSoundImage();
}

}  // namespace
