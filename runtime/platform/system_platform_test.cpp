#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "runtime/platform/io_codes.h"
#include "runtime/platform/platform.h"

namespace diskmaps {
namespace {

using std::chrono::milliseconds;

std::atomic<int> signals_caught{0};
void CountSignal(int) { signals_caught.fetch_add(1); }

// A descriptor closed at the end of the scope.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { Reset(); }
  int get() const { return fd_; }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

struct Pipe {
  Pipe() {
    int ends[2];
    if (::pipe(ends) == 0) {
      read_end = std::make_unique<Descriptor>(ends[0]);
      write_end = std::make_unique<Descriptor>(ends[1]);
    }
  }
  std::unique_ptr<Descriptor> read_end;
  std::unique_ptr<Descriptor> write_end;
};

std::string Payload(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
  }
  return bytes;
}

std::string ReadAll(int fd) {
  std::string bytes;
  char chunk[4096];
  for (;;) {
    const ssize_t count = ::read(fd, chunk, sizeof chunk);
    if (count > 0) {
      bytes.append(chunk, static_cast<std::size_t>(count));
    } else if (count == 0 || errno != EINTR) {
      return bytes;
    }
  }
}

class SystemPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    IgnoreBrokenPipeSignal();
    char pattern[] = "/tmp/diskmaps_platform_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    directory_ = pattern;
    // A handler without SA_RESTART, so a blocked call returns EINTR.
    struct sigaction action = {};
    action.sa_handler = CountSignal;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous_action_), 0);
    signals_caught = 0;
  }
  void TearDown() override {
    ::sigaction(SIGUSR1, &previous_action_, nullptr);
    std::string command = "rm -rf '" + directory_ + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  std::string PathOf(const std::string& name) const {
    return directory_ + "/" + name;
  }

  Platform& platform_ = SystemPlatform();
  std::string directory_;
  struct sigaction previous_action_ = {};
};

TEST_F(SystemPlatformTest, CreateFileCreatesAndTruncates) {
  const std::string path = PathOf("essai.txt");
  for (const std::string text : {"a longer first content", "short"}) {
    int handle = -1;
    ASSERT_EQ(platform_.CreateFile(path.c_str(), handle), 0);
    Descriptor file(handle);
    EXPECT_EQ(::fcntl(handle, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    ASSERT_EQ(platform_.Write(
                  handle, reinterpret_cast<const std::uint8_t*>(text.data()),
                  text.size()),
              0);
    file.Reset();
    Descriptor reader(::open(path.c_str(), O_RDONLY));
    EXPECT_EQ(ReadAll(reader.get()), text);
  }
}

TEST_F(SystemPlatformTest, CreatedFileNeverTakesAStandardDescriptor) {
  const int saved = ::dup(kStandardInput);
  ASSERT_GE(saved, 0);
  ::close(kStandardInput);
  int handle = -1;
  const std::int32_t code =
      platform_.CreateFile(PathOf("low.txt").c_str(), handle);
  const bool input_still_closed = ::fcntl(kStandardInput, F_GETFD) < 0;
  ::dup2(saved, kStandardInput);
  ::close(saved);
  Descriptor file(handle);
  EXPECT_EQ(code, 0);
  EXPECT_GE(handle, 3);
  EXPECT_TRUE(input_still_closed);
  EXPECT_EQ(::fcntl(handle, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
}

TEST_F(SystemPlatformTest, CreateFileFailuresGiveTheirCodes) {
  ASSERT_EQ(::mkdir(PathOf("folder").c_str(), 0777), 0);
  const struct {
    std::string path;
    std::int32_t code;
  } cases[] = {
      {PathOf("missing/essai.txt"), kIoCodePathNotFound},
      {PathOf(""), kIoCodeAccessDenied},  // the directory itself
      {PathOf("folder"), kIoCodeAccessDenied},
      {PathOf(std::string(300, 'n')), kIoCodeNameTooLong},
      {"", kIoCodePathNotFound},
  };
  for (const auto& test : cases) {
    int handle = -1;
    EXPECT_EQ(platform_.CreateFile(test.path.c_str(), handle), test.code)
        << test.path;
  }
}

TEST_F(SystemPlatformTest, CreateFileRefusedOnReadOnlyFileKeepsIt) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write read-only files";
  const std::string path = PathOf("locked.txt");
  {
    Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT, 0444));
    ASSERT_EQ(::write(file.get(), "kept", 4), 4);
  }
  int handle = -1;
  EXPECT_EQ(platform_.CreateFile(path.c_str(), handle), kIoCodeAccessDenied);
  Descriptor reader(::open(path.c_str(), O_RDONLY));
  EXPECT_EQ(ReadAll(reader.get()), "kept");
}

TEST_F(SystemPlatformTest, ProbeDeviceTellsKinds) {
  Descriptor null_device(::open("/dev/null", O_WRONLY));
  Descriptor regular(::open(PathOf("f").c_str(), O_WRONLY | O_CREAT, 0666));
  Descriptor directory(::open(directory_.c_str(), O_RDONLY));
  Pipe pipe;
  EXPECT_EQ(platform_.ProbeDevice(null_device.get()), DeviceKind::kCharacter);
  EXPECT_EQ(platform_.ProbeDevice(regular.get()), DeviceKind::kStream);
  EXPECT_EQ(platform_.ProbeDevice(directory.get()), DeviceKind::kStream);
  EXPECT_EQ(platform_.ProbeDevice(pipe.read_end->get()), DeviceKind::kStream);
  const int closed = regular.get();
  regular.Reset();
  EXPECT_EQ(platform_.ProbeDevice(closed), DeviceKind::kUnknown);
}

TEST_F(SystemPlatformTest, StandardHandleFailsWhenTheDescriptorIsClosed) {
  int handle = -1;
  ASSERT_EQ(platform_.StandardHandle(kStandardInput, handle), 0);
  EXPECT_EQ(handle, kStandardInput);
  EXPECT_EQ(platform_.StandardHandle(2, handle), kIoCodeInvalidParameter);

  const int saved = ::dup(kStandardInput);
  ASSERT_GE(saved, 0);
  ::close(kStandardInput);
  const std::int32_t code = platform_.StandardHandle(kStandardInput, handle);
  ::dup2(saved, kStandardInput);
  ::close(saved);
  EXPECT_EQ(code, kIoCodeInvalidHandle);
}

TEST_F(SystemPlatformTest, WriteFailuresGiveTheirCodes) {
  const std::uint8_t bytes[] = {'x', 'y'};
  Descriptor full(::open("/dev/full", O_WRONLY));
  ASSERT_GE(full.get(), 0);
  EXPECT_EQ(platform_.Write(full.get(), bytes, 2), kIoCodeDiskFull);

  Pipe pipe;
  pipe.read_end->Reset();
  EXPECT_EQ(platform_.Write(pipe.write_end->get(), bytes, 2),
            kIoCodeBrokenPipe);

  const int closed = pipe.write_end->get();
  pipe.write_end->Reset();
  EXPECT_EQ(platform_.Write(closed, bytes, 2), kIoCodeInvalidHandle);
  EXPECT_EQ(platform_.Close(closed), kIoCodeInvalidHandle);
}

TEST_F(SystemPlatformTest, ReadDeliversThenEndsAtClosedPipe) {
  Pipe pipe;
  ASSERT_EQ(::write(pipe.write_end->get(), "2\n8\n", 4), 4);
  pipe.write_end->Reset();
  std::uint8_t buffer[128];
  std::size_t delivered = 99;
  ASSERT_EQ(platform_.Read(pipe.read_end->get(), buffer, 3, delivered), 0);
  EXPECT_EQ(delivered, 3u);
  ASSERT_EQ(platform_.Read(pipe.read_end->get(), buffer, 128, delivered), 0);
  EXPECT_EQ(delivered, 1u);
  ASSERT_EQ(platform_.Read(pipe.read_end->get(), buffer, 128, delivered), 0);
  EXPECT_EQ(delivered, 0u);
}

TEST_F(SystemPlatformTest, InterruptedAndNonBlockingReadsAreRetried) {
  for (const bool non_blocking : {false, true}) {
    Pipe pipe;
    if (non_blocking) {
      ASSERT_EQ(::fcntl(pipe.read_end->get(), F_SETFL, O_NONBLOCK), 0);
    }
    signals_caught = 0;
    const pthread_t reader = ::pthread_self();
    std::thread writer([&] {
      std::this_thread::sleep_for(milliseconds(30));
      ::pthread_kill(reader, SIGUSR1);
      std::this_thread::sleep_for(milliseconds(30));
      ASSERT_EQ(::write(pipe.write_end->get(), "abc", 3), 3);
    });
    std::uint8_t buffer[128];
    std::size_t delivered = 0;
    const std::int32_t code =
        platform_.Read(pipe.read_end->get(), buffer, sizeof buffer, delivered);
    writer.join();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), delivered), "abc");
    EXPECT_EQ(signals_caught.load(), 1);
  }
}

// A pipe holds far less than the payload: the write is cut short by the
// reader's pace, by signals, or by a full non-blocking pipe, and must still
// deliver every byte in order.
TEST_F(SystemPlatformTest, ShortAndInterruptedWritesAreContinued) {
  const std::string payload = Payload(1 << 20);
  for (const bool non_blocking : {false, true}) {
    Pipe pipe;
    if (non_blocking) {
      ASSERT_EQ(::fcntl(pipe.write_end->get(), F_SETFL, O_NONBLOCK), 0);
    }
    signals_caught = 0;
    const pthread_t writer = ::pthread_self();
    std::string received;
    std::thread reader([&] {
      char chunk[8192];
      for (int i = 0; i < 8; ++i) {
        std::this_thread::sleep_for(milliseconds(5));
        ::pthread_kill(writer, SIGUSR1);
        const ssize_t count = ::read(pipe.read_end->get(), chunk, sizeof chunk);
        if (count > 0) received.append(chunk, static_cast<std::size_t>(count));
      }
      received += ReadAll(pipe.read_end->get());
    });
    const std::int32_t code = platform_.Write(
        pipe.write_end->get(),
        reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size());
    pipe.write_end->Reset();
    reader.join();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(received.size(), payload.size());
    EXPECT_TRUE(received == payload);
    EXPECT_GT(signals_caught.load(), 0);
  }
}

TEST_F(SystemPlatformTest, CloseReleasesTheHandle) {
  int handle = -1;
  ASSERT_EQ(platform_.CreateFile(PathOf("c").c_str(), handle), 0);
  EXPECT_EQ(platform_.Close(handle), 0);
  EXPECT_LT(::fcntl(handle, F_GETFD), 0);
}

TEST_F(SystemPlatformTest, UtcTimeOfDayFollowsTheSystemClock) {
  const std::time_t before = std::time(nullptr);
  const TimeOfDay now = platform_.UtcTimeOfDay();
  const std::time_t after = std::time(nullptr);
  std::tm broken_down = {};
  ::gmtime_r(&before, &broken_down);
  const int seconds = now.hour * 3600 + now.minute * 60 + now.second;
  const int expected =
      broken_down.tm_hour * 3600 + broken_down.tm_min * 60 + broken_down.tm_sec;
  EXPECT_GE(now.millisecond, 0);
  EXPECT_LE(now.millisecond, 999);
  EXPECT_LT(now.minute, 60);
  EXPECT_LT(now.second, 60);
  // Across midnight the later reading wraps to 0.
  const int elapsed = (seconds - expected + 86400) % 86400;
  EXPECT_LE(elapsed, static_cast<int>(after - before) + 1);
}

}  // namespace
}  // namespace diskmaps
