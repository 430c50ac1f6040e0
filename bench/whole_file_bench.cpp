// The writing phase of the largest job (type 3, degree 65535, 65535 maps)
// into a real file in a temporary folder, against its write floor:
//
// - WriteParameterFile itself: the records drawn, formatted and written
//   through the file's TextChannel, exactly as the program does;
// - the same bytes as pre-formatted lines, written through a TextChannel
//   line by line (the channel's share);
// - the same number of bytes handed to write(2) in 128-byte requests and
//   nothing else (the floor).
//
// Each iteration creates (truncates) the same file, so all three pay for the
// same file-system work.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/map_generation.h"
#include "app/parameter_file.h"
#include "app/run_parameters.h"
#include "runtime/channel/text_channel.h"
#include "runtime/number/decimal.h"
#include "runtime/random/random_source.h"

namespace diskmaps {
namespace {

constexpr std::uint16_t kLargestCount = 65535;
constexpr std::size_t kRequestSize = 128;

// A temporary folder for the benchmark's file, removed at exit.
class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/diskmaps_bench_XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    path_ = pattern;
  }
  ~TempFolder() {
    ::unlink((path_ + "/largest.txt").c_str());
    ::rmdir(path_.c_str());
  }
  std::string File() const { return path_ + "/largest"; }

 private:
  std::string path_;
};

const TempFolder& Folder() {
  static const TempFolder folder;
  return folder;
}

RunParameters LargestJob() {
  RunParameters parameters;
  parameters.SymmetryType = 3;
  parameters.Degree = 65535;
  parameters.MapCount = kLargestCount;
  parameters.R0Min = 0.1;
  parameters.R0Max = 0.9;
  parameters.FileBaseName = Folder().File();
  return parameters;
}

// The largest job's lines, each with its CR LF, drawn from a fixed seed.
std::vector<std::string> LargestJobLines() {
  std::vector<std::string> lines = {"3\r\n", "65535\r\n", "65535\r\n"};
  const std::uint32_t saved = Random.seed;
  Random.seed = 45296789u;
  for (int i = 0; i < kLargestCount; ++i) {
    const MapRecord record = DrawMapRecord(0.1, 0.9);
    for (const Extended value :
         {ExtendedFromDouble(record.x), record.y, record.r0}) {
      char text[kRealTextLength];
      lines.emplace_back(text, FormatRealDefault(value, text));
      lines.back() += "\r\n";
    }
  }
  Random.seed = saved;
  return lines;
}

std::int64_t LargestJobBytes() { return 17 + 75 * std::int64_t{kLargestCount}; }

void BM_LargestJobWriteParameterFile(benchmark::State& state) {
  const RunParameters parameters = LargestJob();
  for (auto _ : state) {
    WriteParameterFile(parameters);
  }
  state.SetBytesProcessed(state.iterations() * LargestJobBytes());
  state.SetItemsProcessed(state.iterations() * kLargestCount);
}
BENCHMARK(BM_LargestJobWriteParameterFile)->Unit(benchmark::kMillisecond);

void BM_LargestJobPreformattedLines(benchmark::State& state) {
  const std::vector<std::string> lines = LargestJobLines();
  const std::string name = Folder().File() + ".txt";
  for (auto _ : state) {
    TextChannel file;
    BindName(file, name);
    OpenForWriting(file);
    for (const std::string& line : lines) {
      // The line without its CR LF, then the channel's own line end.
      WriteText(file, {line.data(), line.size() - 2});
      EndLine(file);
    }
    CloseChannel(file);
    if (IoErrorCode != 0) state.SkipWithError("I/O failure");
  }
  state.SetBytesProcessed(state.iterations() * LargestJobBytes());
  state.SetItemsProcessed(state.iterations() * kLargestCount);
}
BENCHMARK(BM_LargestJobPreformattedLines)->Unit(benchmark::kMillisecond);

void BM_LargestJobWriteFloor(benchmark::State& state) {
  const std::string name = Folder().File() + ".txt";
  char block[kRequestSize];
  std::memset(block, '5', sizeof block);
  const auto total = static_cast<std::size_t>(LargestJobBytes());
  for (auto _ : state) {
    const int descriptor =
        ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (descriptor < 0) state.SkipWithError("cannot create the file");
    for (std::size_t done = 0; done < total; done += kRequestSize) {
      const std::size_t count =
          total - done < kRequestSize ? total - done : kRequestSize;
      if (::write(descriptor, block, count) != static_cast<ssize_t>(count)) {
        state.SkipWithError("short write");
        break;
      }
    }
    ::close(descriptor);
  }
  state.SetBytesProcessed(state.iterations() * LargestJobBytes());
  state.SetItemsProcessed(state.iterations() * kLargestCount);
}
BENCHMARK(BM_LargestJobWriteFloor)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace diskmaps
