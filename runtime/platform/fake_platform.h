#pragma once

// A scripted platform for tests: standard input delivered in chosen chunks,
// every write request recorded, failures injected per call, a settable time
// of day. Descriptor-level behaviour (interrupted calls, short writes of the
// system) belongs to the POSIX layer and is tested there.

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/platform/io_codes.h"
#include "runtime/platform/platform.h"

namespace diskmaps {

class FakePlatform final : public Platform {
 public:
  enum class Call {
    kStandardHandle,
    kCreateFile,
    kRead,
    kWrite,
    kClose,
  };
  static constexpr std::size_t kCallKinds = 5;
  static constexpr int kFirstFileHandle = 3;

  struct WriteRequest {
    int handle;
    std::string bytes;    // the bytes of the request
    std::int32_t result;  // 0, or the code it failed with
  };

  // --- Configuration -------------------------------------------------------

  // Appends one chunk to the standard input: a read request takes the front
  // of the first chunk, at most its capacity, and never crosses into the next
  // chunk. Once the chunks are used up, reads report end of input.
  void AddInputChunk(std::string_view bytes) {
    if (!bytes.empty()) input_chunks_.emplace_back(bytes);
  }
  // Replaces the standard input by `bytes` cut into chunks of `chunk_size`.
  void SetInput(
      std::string_view bytes,
      std::size_t chunk_size = std::numeric_limits<std::size_t>::max()) {
    input_chunks_.clear();
    while (!bytes.empty()) {
      const std::size_t length =
          bytes.size() < chunk_size ? bytes.size() : chunk_size;
      AddInputChunk(bytes.substr(0, length));
      bytes.remove_prefix(length);
    }
  }
  // The `index`-th call of `call` (counted from 0 over the fake's life)
  // fails with `code` and has no other effect.
  void FailCall(Call call, int index, std::int32_t code) {
    planned_failures_[{call, index}] = code;
  }
  // Every later call of `call` fails with `code`; 0 ends that.
  void FailAlways(Call call, std::int32_t code) {
    always_failing_[Index(call)] = code;
  }
  // Write requests store at most `bytes` more bytes in all; a request that
  // does not fit stores what fits and fails with the disk-full code.
  void LimitWriteSpace(std::size_t bytes) { write_space_ = bytes; }

  bool standard_input_open = true;
  bool standard_output_open = true;
  DeviceKind standard_input_kind = DeviceKind::kStream;
  DeviceKind standard_output_kind = DeviceKind::kStream;
  DeviceKind file_kind = DeviceKind::kStream;  // kind of created files
  TimeOfDay time_of_day;

  // --- Records -------------------------------------------------------------

  std::vector<WriteRequest> write_requests;
  std::vector<std::size_t> read_capacities;  // capacity of each read request
  std::vector<std::string> created_names;    // in order of creation
  std::vector<int> closed_handles;

  int CallCount(Call call) const { return call_counts_[Index(call)]; }
  bool IsOpen(int handle) const { return open_handles_.count(handle) != 0; }
  // The bytes stored through `handle`, in order.
  std::string WrittenTo(int handle) const {
    const auto found = contents_.find(handle);
    return found == contents_.end() ? std::string() : found->second;
  }
  // The content of the file last created under `name`.
  std::string FileContent(std::string_view name) const {
    for (auto it = file_handles_.rbegin(); it != file_handles_.rend(); ++it) {
      if (it->second == name) return WrittenTo(it->first);
    }
    return std::string();
  }
  // The handle of the file last created under `name`, or -1.
  int FileHandle(std::string_view name) const {
    for (auto it = file_handles_.rbegin(); it != file_handles_.rend(); ++it) {
      if (it->second == name) return it->first;
    }
    return -1;
  }
  // The sizes of the write requests made on `handle`, in order.
  std::vector<std::size_t> WriteSizes(int handle) const {
    std::vector<std::size_t> sizes;
    for (const WriteRequest& request : write_requests) {
      if (request.handle == handle) sizes.push_back(request.bytes.size());
    }
    return sizes;
  }

  // --- Platform --------------------------------------------------------------

  std::int32_t StandardHandle(int stream, int& handle) override {
    if (const std::int32_t code = Begin(Call::kStandardHandle)) return code;
    const bool open = stream == kStandardInput    ? standard_input_open
                      : stream == kStandardOutput ? standard_output_open
                                                  : false;
    if (!open) return kIoCodeInvalidHandle;
    open_handles_.insert(stream);
    handle = stream;
    return 0;
  }

  std::int32_t CreateFile(const char* name, int& handle) override {
    if (const std::int32_t code = Begin(Call::kCreateFile)) return code;
    handle = next_file_handle_++;
    open_handles_.insert(handle);
    created_names.emplace_back(name);
    file_handles_.emplace_back(handle, name);
    return 0;
  }

  DeviceKind ProbeDevice(int handle) override {
    if (!IsOpen(handle)) return DeviceKind::kUnknown;
    if (handle == kStandardInput) return standard_input_kind;
    if (handle == kStandardOutput) return standard_output_kind;
    return file_kind;
  }

  std::int32_t Read(int handle, std::uint8_t* buffer, std::size_t capacity,
                    std::size_t& delivered) override {
    delivered = 0;
    read_capacities.push_back(capacity);
    if (const std::int32_t code = Begin(Call::kRead)) return code;
    if (handle != kStandardInput || !IsOpen(handle)) {
      return kIoCodeInvalidHandle;
    }
    if (input_chunks_.empty()) return 0;
    std::string& chunk = input_chunks_.front();
    delivered = chunk.size() < capacity ? chunk.size() : capacity;
    chunk.copy(reinterpret_cast<char*>(buffer), delivered);
    chunk.erase(0, delivered);
    if (chunk.empty()) input_chunks_.pop_front();
    return 0;
  }

  std::int32_t Write(int handle, const std::uint8_t* bytes,
                     std::size_t count) override {
    WriteRequest& request = write_requests.emplace_back(WriteRequest{
        handle, std::string(reinterpret_cast<const char*>(bytes), count), 0});
    request.result = Begin(Call::kWrite);
    if (request.result == 0 && !IsOpen(handle)) {
      request.result = kIoCodeInvalidHandle;
    }
    if (request.result != 0) return request.result;
    std::size_t stored = count;
    if (stored > write_space_) {
      stored = write_space_;
      request.result = kIoCodeDiskFull;
    }
    write_space_ -= stored;
    contents_[handle].append(request.bytes, 0, stored);
    return request.result;
  }

  std::int32_t Close(int handle) override {
    if (const std::int32_t code = Begin(Call::kClose)) return code;
    if (open_handles_.erase(handle) == 0) return kIoCodeInvalidHandle;
    closed_handles.push_back(handle);
    return 0;
  }

  TimeOfDay UtcTimeOfDay() override { return time_of_day; }

 private:
  static constexpr std::size_t Index(Call call) {
    return static_cast<std::size_t>(call);
  }

  // Counts the call; returns the code it is to fail with, or 0.
  std::int32_t Begin(Call call) {
    const int index = call_counts_[Index(call)]++;
    const auto planned = planned_failures_.find({call, index});
    if (planned != planned_failures_.end()) return planned->second;
    return always_failing_[Index(call)];
  }

  std::deque<std::string> input_chunks_;
  std::map<std::pair<Call, int>, std::int32_t> planned_failures_;
  std::array<std::int32_t, kCallKinds> always_failing_ = {};
  std::array<int, kCallKinds> call_counts_ = {};
  std::set<int> open_handles_;
  std::vector<std::pair<int, std::string>> file_handles_;
  std::map<int, std::string> contents_;
  std::size_t write_space_ = std::numeric_limits<std::size_t>::max();
  int next_file_handle_ = kFirstFileHandle;
};

}  // namespace diskmaps
