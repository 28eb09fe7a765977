#include "app/Console.h"

#include "base/Errors.h"
#include "platform/process.h"

namespace {

constexpr std::size_t kBufferSize = 128;

std::string g_pending;

void WritePending() {
  std::string bytes;
  bytes.swap(g_pending);
  if (bytes.empty()) return;
  int error = WriteStdout(bytes);
  if (error != 0) RaiseInOutError(error);
}

}  // namespace

void WriteLine(const std::string& text) {
  static const bool console = StdoutIsConsole();
  g_pending += text;
  g_pending += "\r\n";
  if (console) {
    WritePending();
    return;
  }
  // Full buffers go out as they fill.
  while (g_pending.size() >= kBufferSize) {
    std::string rest = g_pending.substr(kBufferSize);
    g_pending.resize(kBufferSize);
    WritePending();
    g_pending = rest;
  }
}

void FlushOutput() { WritePending(); }

void FlushOutputQuietly() {
  try {
    WritePending();
  } catch (const ToolError&) {
    g_pending.clear();
  }
}
