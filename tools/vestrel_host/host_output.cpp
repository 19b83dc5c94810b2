#include "host_output.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace vestrel_host {
namespace {

std::atomic<bool> gJson{false};
std::mutex gLock;

void Write(FILE* stream, const std::string& text) {
  std::lock_guard<std::mutex> lock(gLock);
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

std::string Dump(const json& object) { return object.dump(-1, ' ', false, json::error_handler_t::replace); }

}  // namespace

void Output::SetJson(bool on) { gJson = on; }
bool Output::Json() { return gJson; }

void Output::Report(const json& object, const std::string& text) { Write(stdout, gJson ? Dump(object) : text); }

void Output::Text(const std::string& text) {
  if (!gJson) Write(stdout, text);
}

int Output::Fail(int status, const std::string& message, json extra) {
  if (gJson) {
    extra["error"] = message;
    extra["status"] = status;
    Write(stdout, Dump(extra));
  } else {
    Write(stderr, "vestrel-host: " + message);
  }
  return status;
}

void Output::Warn(const std::string& message) {
  if (gJson) {
    Write(stdout, Dump(json{{"warning", message}}));
  } else {
    Write(stderr, "vestrel-host: " + message);
  }
}

}  // namespace vestrel_host
