// The camera model behind /dev/cam0, driven through the platform layer as the program does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <vector>

#include "board/camera/camera_model.h"
#include "board/io/tq90ra_board.h"
#include "config/settings.h"
#include "platform/platform.h"
#include "platform/sim/clock.h"
#include "platform/sim/devices.h"
#include "record/record_thread.h"
#include "record_harness.h"
#include "support/test_board.h"

namespace record_test {
namespace {

class Camera : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDefaultParameter(&settings);
    sim::addDeviceNode(CAM_DEVICE, camera);
  }
  void TearDown() override {
    if (ring) plat::munmap(const_cast<uint8_t*>(ring), CAM_ENC_BUFFER_SIZE);
    if (fd >= 0) plat::close(fd);
  }
  void openAndStart() {
    fd = plat::open(CAM_DEVICE, O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(plat::ioctl(fd, CAM_JPEG_LOG_CONDITION_SET, &settings), 0);
    void* p = plat::mmap(nullptr, CAM_ENC_BUFFER_SIZE, PROT_READ, MAP_SHARED, fd, 0);
    ASSERT_NE(p, MAP_FAILED);
    ring = static_cast<const uint8_t*>(p);
    ASSERT_EQ(plat::ioctl(fd, CAM_JPEG_LOG_START, static_cast<uintptr_t>(0)), 0);
  }
  ENC_INDEX get() {
    ENC_INDEX index{};
    EXPECT_EQ(plat::ioctl(fd, CAM_JPEG_GET_INDEX, &index), 0);
    return index;
  }
  const ENC_FRAME* frame(const ENC_INDEX& index) { return reinterpret_cast<const ENC_FRAME*>(ring + index.offset); }
  void advance(double seconds) { board.advance(seconds); }

  testing_board::TestBoard board;
  RecorderSettings settings;
  std::shared_ptr<sim::CameraDevice> camera = std::make_shared<sim::CameraDevice>();
  int fd = -1;
  const uint8_t* ring = nullptr;
};

TEST_F(Camera, FramesAreStampedAtTheRateWithTheirNumberWithinTheSecond) {
  settings.PRERECINT1 = 15;
  settings.POSTRECINT1 = 15;
  openAndStart();
  EXPECT_EQ(get().count, 1u) << "the frame of the start instant";
  advance(2.0);
  ENC_INDEX index = get();
  EXPECT_EQ(index.count, 31u);
  for (int i = 0; i < 31; ++i) {
    index = get();
    const ENC_FRAME* f = frame(index);
    EXPECT_EQ(f->seconds.get(), testing_board::kStartSecond + i / 15);
    EXPECT_EQ(f->frameNumber, i % 15);
    EXPECT_EQ(f->microseconds.get(), static_cast<uint32_t>((i % 15) * 1000000 / 15));
    EXPECT_EQ(f->preMark, ENC_FRAME_PRE_SETTINGS) << "event recording: pre settings";
    const uint8_t* jpeg = reinterpret_cast<const uint8_t*>(f) + sizeof(ENC_FRAME);
    EXPECT_EQ(f->jpegSize.get(), 64u * 1024) << "padded to the size setting";
    int w = 0, h = 0;
    EXPECT_TRUE(decodesAsJpeg(jpeg, f->jpegSize.get(), &w, &h));
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
    ASSERT_EQ(plat::ioctl(fd, CAM_JPEG_POP_INDEX, &index), 0);
  }
  EXPECT_EQ(get().count, 0u);
  EXPECT_EQ(plat::ioctl(fd, CAM_JPEG_POP_INDEX, &index), -1) << "nothing to release";
}

TEST_F(Camera, ContinuousRecordingUsesThePostSettings) {
  settings.RECINGMODE1 = RECINGMODE_CONTINUOUS;
  settings.POSTRECINT1 = 5;
  settings.POSTFIELD1 = 2;
  settings.POSTSIZE1 = 20;
  openAndStart();
  advance(1.0);
  ENC_INDEX index = get();
  EXPECT_EQ(index.count, 6u);
  const ENC_FRAME* f = frame(index);
  EXPECT_EQ(f->preMark, 0);
  int w = 0, h = 0;
  EXPECT_TRUE(decodesAsJpeg(reinterpret_cast<const uint8_t*>(f) + sizeof(ENC_FRAME), f->jpegSize.get(), &w, &h));
  EXPECT_EQ(h, 240) << "two fields: half height";
  EXPECT_EQ(f->jpegSize.get(), 20u * 1024);
}

TEST_F(Camera, AFullRingDropsTheOldestButNeverTheFrameGiven) {
  sim::removeDeviceNode(CAM_DEVICE);
  camera = std::make_shared<sim::CameraDevice>(sim::CameraOptions{2 * 1024 * 1024, 0});
  sim::addDeviceNode(CAM_DEVICE, camera);
  openAndStart();  // 10 frames a second of 64 KiB: the 2 MiB ring holds about 31
  ENC_INDEX given = get();
  std::vector<uint8_t> before(camera->ringForTests() + given.offset,
                              camera->ringForTests() + given.offset + sizeof(ENC_FRAME) + 64 * 1024);
  advance(10.0);
  ENC_INDEX again = get();
  EXPECT_EQ(again.offset, given.offset) << "the frame given stays the oldest";
  EXPECT_EQ(memcmp(before.data(), ring + given.offset, before.size()), 0) << "and is never written over";
  EXPECT_GT(camera->droppedFrames(), 60u);
  EXPECT_LE(camera->framesInRing(), 32u);
  ASSERT_EQ(plat::ioctl(fd, CAM_JPEG_POP_INDEX, &again), 0);
  // What follows is recent: the newest frames were kept.
  const ENC_FRAME* next = frame(get());
  EXPECT_GE(next->seconds.get(), testing_board::kStartSecond + 6);
}

TEST_F(Camera, RingIsReadOnlyAndHasOneOpener) {
  openAndStart();
  EXPECT_EQ(plat::mmap(nullptr, CAM_ENC_BUFFER_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0), MAP_FAILED);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(plat::open(CAM_DEVICE, O_RDWR), -1);
  EXPECT_EQ(errno, EBUSY);
  EXPECT_EQ(plat::ioctl(fd, 0x7A55, static_cast<uintptr_t>(0)), -1);
  EXPECT_EQ(errno, ENOTTY);
  ASSERT_EQ(plat::ioctl(fd, CAM_JPEG_LOG_STOP, static_cast<uintptr_t>(0)), 0);
  advance(5.0);
  EXPECT_EQ(get().count, 1u) << "nothing captured after the stop";
}

TEST_F(Camera, RegisterFileLinesBecomeRegisterWritesAndBadLinesAreSkipped) {
  openAndStart();
  std::string file =
      "REG 1 ADDR 3a DATA 12\n"
      "REG 2 ADDR 0x\n"                                     // too few fields
      "REG three ADDR 10 DATA 20\n"                         // not a number
      "REG 4 " + std::string(400, 'A') + " 10 DATA 20\n" +  // a word longer than any field
      "REG 5 ADDR ff DATA 00\n";
  board.writeFile(CAM_REGISTER_FILE, file);
  {
    testing_board::ConsoleCapture console;
    RecordWriteCameraRegisters(fd, CAM_REGISTER_FILE);
    EXPECT_NE(console.text().find("Write addr:0x3a  data:0x12"), std::string::npos);
  }
  auto writes = camera->registerWrites();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].address, 0x3a);
  EXPECT_EQ(writes[0].value, 0x12);
  EXPECT_EQ(writes[1].address, 0xff);
  EXPECT_EQ(writes[1].value, 0x00);
}

// The board's I/O with its kernel modules, which the camera's sensor side needs.
std::unique_ptr<sim::Tq90raBoard> bootIo(const testing_board::TestBoard& board) {
  sim::Tq90raBoard::Options o;
  o.rtcStatePath = board.dir() + "/ds1337.rtc";
  return std::make_unique<sim::Tq90raBoard>(o);
}

TEST(CameraBoardModel, BootServesTheCameraWithTheBoardsPictureSize) {
  testing_board::TestBoard board;
  auto io = bootIo(board);
  auto models = sim::createBoardModels();
  auto it = std::find_if(models.begin(), models.end(), [](const auto& m) { return std::string(m->name()) == "camera"; });
  ASSERT_NE(it, models.end());
  sim::BoardConfig config;
  config.options["cam-frame-kb"] = "200";
  (*it)->boot(config);
  ASSERT_TRUE(sim::hasDeviceNode(CAM_DEVICE));
  RecorderSettings settings;
  SetDefaultParameter(&settings);
  int fd = plat::open(CAM_DEVICE, O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(plat::ioctl(fd, CAM_JPEG_LOG_CONDITION_SET, &settings), 0);
  void* ring = plat::mmap(nullptr, CAM_ENC_BUFFER_SIZE, PROT_READ, MAP_SHARED, fd, 0);
  ASSERT_NE(ring, MAP_FAILED);
  ASSERT_EQ(plat::ioctl(fd, CAM_JPEG_LOG_START, static_cast<uintptr_t>(0)), 0);
  ENC_INDEX index{};
  ASSERT_EQ(plat::ioctl(fd, CAM_JPEG_GET_INDEX, &index), 0);
  ASSERT_EQ(index.count, 1u);
  const auto* f = reinterpret_cast<const ENC_FRAME*>(static_cast<const uint8_t*>(ring) + index.offset);
  EXPECT_EQ(f->jpegSize.get(), 200u * 1024);
  plat::munmap(ring, CAM_ENC_BUFFER_SIZE);
  plat::close(fd);
}

TEST(CameraSensor, OpenSettingsAndRegisterWritesReachTheSensorThroughItsModule) {
  testing_board::TestBoard board;
  auto io = bootIo(board);
  auto camera = std::make_shared<sim::CameraDevice>();
  sim::connectCameraSensor(*camera);
  sim::addDeviceNode(CAM_DEVICE, camera);
  using Writes = std::vector<std::pair<int, int>>;
  auto writes = [&] {
    Writes out;
    for (const auto& w : io->sensor().writes()) out.emplace_back(w.reg, w.value);
    io->sensor().clearWrites();
    return out;
  };
  const Writes startUp = {{0x01, 1}, {0x07, 1}, {0x07, 0}, {0x01, 4}, {0x0d, 1}, {0x0d, 0}};

  int fd = plat::open(CAM_DEVICE, O_RDWR);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(writes(), startUp);
  RecorderSettings settings;
  SetDefaultParameter(&settings);  // event recording, full-height pictures
  ASSERT_EQ(plat::ioctl(fd, CAM_JPEG_LOG_CONDITION_SET, &settings), 0);
  Writes options = startUp;
  options.insert(options.end(), {{0x00, 0}, {0x01, 1}, {0x08, 0xc800}, {0x01, 4}, {0x20, 0x0000}});
  EXPECT_EQ(writes(), options);
  settings.PREFIELD1 = 2;  // half height: option A
  ASSERT_EQ(plat::ioctl(fd, CAM_JPEG_LOG_CONDITION_SET, &settings), 0);
  EXPECT_EQ(io->sensor().reg(0x08), 0xc802);
  EXPECT_EQ(io->sensor().reg(0x20), 0x8000);
  writes();

  CAM_REG reg = {0x3a, 0x12, {0, 0}};
  ASSERT_EQ(plat::ioctl(fd, CAM_REG_WRITE, &reg), 0);
  EXPECT_EQ(writes(), (Writes{{0x3a, 0x0012}}));
  io->sensor().failWriteAfter(0);
  EXPECT_EQ(plat::ioctl(fd, CAM_REG_WRITE, &reg), -1) << "a register the sensor did not take fails the request";
  EXPECT_EQ(camera->registerWrites().size(), 1u);
  plat::close(fd);

  // A camera whose sensor does not answer cannot be opened (its client stays, its start-up
  // table is not acknowledged).
  sim::kernel::detachI2cDevice(sim::Tq90raBoard::kI2cBus, sim::Zr31SensorModel::kAddress);
  EXPECT_EQ(plat::open(CAM_DEVICE, O_RDWR), -1);
  EXPECT_EQ(errno, EREMOTEIO);
}

TEST(CameraPicture, PaddingReachesTheTargetAndKeepsAValidPicture) {
  sim::CameraPicture picture;
  struct tm t = {};
  t.tm_year = 126, t.tm_mday = 1, t.tm_hour = 12;
  auto jpeg = picture.encode(640, 480, t, 3, 10);
  ASSERT_NE(jpeg.data, nullptr);
  for (size_t target : {size_t{0}, jpeg.size + 1, jpeg.size + 5, jpeg.size + 65537 + 3, size_t{200 * 1024}}) {
    size_t size = sim::CameraPicture::paddedSize(jpeg.size, target);
    EXPECT_GE(size, std::max(target, jpeg.size));
    std::vector<uint8_t> out(size);
    ASSERT_EQ(sim::CameraPicture::copyPadded(jpeg, target, out.data(), out.size()), size) << target;
    EXPECT_TRUE(decodesAsJpeg(out.data(), out.size())) << target;
  }
}

}  // namespace
}  // namespace record_test
