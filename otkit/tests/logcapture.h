// Tests that look at what the library logs (its log's sink).
#ifndef OTKIT_LOGCAPTURE_H
#define OTKIT_LOGCAPTURE_H

#include <mutex>
#include <string>

#include "otlog.h"

namespace ottest {

// What the library logs while one lives (the log's sink; standard output again after it).
class LogCapture {
 public:
  LogCapture() { otSetLogSink(take, this); }
  ~LogCapture() { otSetLogSink(nullptr, nullptr); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  bool has(const std::string& part) {
    std::lock_guard<std::mutex> hold(lock_);
    return text_.find(part) != std::string::npos;
  }

 private:
  static void take(int, const char* line, void* arg) {
    LogCapture* c = static_cast<LogCapture*>(arg);
    std::lock_guard<std::mutex> hold(c->lock_);
    c->text_ += line;
  }
  std::mutex lock_;
  std::string text_;
};

}  // namespace ottest

#endif
