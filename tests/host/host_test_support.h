#pragma once
// Helpers shared by the host boundary tests: a private dump folder, streams from bytes,
// and checks of raised messages.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/errors.h"
#include "host/wire/memory_stream.h"
#include "platform/process_info.h"
#include "platform/text_codec.h"

// Points the stream dumps at a fresh folder for the lifetime of the object. The folder is named
// after the process and a count: test processes that run at once never share one.
class TempDumpFolder {
public:
  TempDumpFolder() {
    static std::atomic<int> counter{0};
    FPath = std::filesystem::temp_directory_path() /
            ("vestrel_host_test_" + std::to_string(platform::CurrentProcessId()) + "_" + std::to_string(counter++));
    std::filesystem::remove_all(FPath);
    std::filesystem::create_directories(FPath);
    SetStreamDumpFolder(FPath);
  }
  ~TempDumpFolder() {
    SetStreamDumpFolder({});
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
  const std::filesystem::path& Path() const { return FPath; }

private:
  std::filesystem::path FPath;
};

inline std::vector<uint8_t> StreamBytes(const TMyMemoryStream& stream) {
  const auto* data = reinterpret_cast<const uint8_t*>(stream.Memory());
  return data == nullptr ? std::vector<uint8_t>() : std::vector<uint8_t>(data, data + stream.Size());
}

// A stream holding `bytes`, positioned at its start.
inline void FillStream(TMyMemoryStream& stream, const std::vector<uint8_t>& bytes) {
  stream.Clear();
  if (!bytes.empty()) stream.Write(bytes.data(), static_cast<int32_t>(bytes.size()));
  stream.Seek(0);
}

inline void AppendInt32(std::vector<uint8_t>& bytes, int32_t value) {
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<uint8_t>(static_cast<uint32_t>(value) >> shift));
}

inline std::vector<uint8_t> FileBytes(const std::filesystem::path& path) {
  std::vector<uint8_t> bytes;
  FILE* file = std::fopen(path.string().c_str(), "rb");
  if (file == nullptr) return bytes;
  int c;
  while ((c = std::fgetc(file)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
  std::fclose(file);
  return bytes;
}

// Runs `action`, expects an exception of type E and returns its message.
template <class E>
AnsiString MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const E& error) {
    return error.Message();
  } catch (const std::exception& other) {
    ADD_FAILURE() << "unexpected exception: " << other.what();
    return {};
  }
  ADD_FAILURE() << "no exception raised";
  return {};
}

inline AnsiString Ansi(const char* utf8) { return AnsiFromUtf8(utf8); }
