// A whole client stream against a server connection: events, clipboard blocks, slider floods
// while the server waits for an answer, and a close. The queue stays within its bounds, slider
// values outside their widget's range never reach the mask, a clipboard is never larger than
// its limit, and every call ends once the client is gone.
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "hxserver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 256 * 1024) return 0;
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 0;
  std::thread client([&] {
    size_t off = 0;
    while (off < size) {
      ssize_t n = ::send(fds[1], data + off, size - off, MSG_NOSIGNAL);
      if (n <= 0) break;
      off += (size_t)n;
    }
    shutdown(fds[1], SHUT_WR);
    // What the server sends is read and dropped, so that its sends never wait on us.
    char sink[4096];
    while (recv(fds[1], sink, sizeof sink, 0) > 0) {
    }
  });
  {
    PARAM_ p(fds[0], 1);
    p.ioTimeoutMs = 2000;
    p.maxClipboard = 4096;
    p.aliveMs = 0;
    hxStartDefinition(&p, 10);
    hxQSlider(&p, 1, 0, 0, 1000, 1, 0, 1);
    hxQSpinBox(&p, 2, 0, -5, 5, 1);
    hxSetRange(&p, 3, 0.5, 2.5, 0.1);
    std::vector<char> buf(HX_EVENT_BUFSIZE);
    std::vector<char> rest(HX_TEXT_SIZE);
    for (int turn = 0; turn < 100000; turn++) {
      // Every so often the server waits for an answer, and what comes meanwhile is queued.
      if (turn % 7 == 3 && hxWait(&p, "synced(") < 0 && p.stop.load()) break;
      if ((int)p.queued.size() > HX_EVENT_QUEUE_LINES || p.queuedBytes > HX_EVENT_QUEUE_BYTES)
        __builtin_trap();
      if (hxPollEvent(&p, buf.data()) < 0) break;
      if (p.clipboardLength > p.maxClipboard) __builtin_trap();
      int id = 0;
      int kind = hxParseEvent(buf.data(), &id, rest.data());
      if (kind == SLIDER_EVENT && id >= 1 && id <= 3) {
        long v = strtol(rest.data() + 1, nullptr, 10);
        double lo = id == 1 ? 0 : id == 2 ? -5 : 0, hi = id == 1 ? 1000 : id == 2 ? 5 : 3;
        if (v < lo || v > hi) __builtin_trap();
      }
      if (kind == SHUTUP_EVENT) break;
    }
  }
  close(fds[0]);
  client.join();
  close(fds[1]);
  return 0;
}
