// End-to-end runs on a board whose card is in place before the first boot, formatted as the unit
// leaves it (so the program starts at once), and read back afterwards with vdrtool's reader.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "board/card/card_image.h"
#include "board/card/card_store.h"
#include "card_image.h"
#include "recording.h"
#include "support/sim_run.h"

class PreparedCardE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testing_board::makeBoardDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
    sim::CardState s;
    s.present = true;
    s.sizeK = sim::kDefaultCardSizeK;
    s.backend = sim::fuseAvailable() ? sim::CardBackend::Fuse : sim::CardBackend::Directory;
    std::string error;
    ASSERT_TRUE(sim::prepareCardAsUnit(dir, s, &error)) << error;
    sim::saveCardState(dir, s);
    backend = s.backend;
  }
  void TearDown() override {
    image.reset();
    if (!HasFailure()) testing_board::removeBoardDir(dir);
  }

  // The card's files on the PC after the run: the stand-in directory, or a copy out of the image.
  std::string cardFiles() {
    if (backend == sim::CardBackend::Directory) return sim::cardDirPath(dir);
    if (image) return image->dir();
    image = std::make_unique<vdr::CardImage>();
    std::string error;
    EXPECT_TRUE(image->extract(sim::cardImagePath(dir), &error)) << error;
    return image->dir();
  }

  std::vector<vdr::Recording> recordings(const std::string& channel) {
    std::vector<vdr::Recording> out;
    std::string top = cardFiles();
    for (const std::string& base : vdr::findRecordings(top)) {
      vdr::Recording r = vdr::readRecording(base, true);
      if (r.channel == channel) out.push_back(std::move(r));
    }
    return out;
  }

  std::string dir;
  sim::CardBackend backend = sim::CardBackend::Fuse;
  std::unique_ptr<vdr::CardImage> image;
};
