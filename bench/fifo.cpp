// Messages per second through otFifo with one producer and one consumer thread, beside a
// plain std::mutex + std::condition_variable + std::deque queue of byte vectors.
// Usage: bench_fifo [messages] [message bytes]. The last line is the ratio ours/reference.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "benchrounds.h"
#include "otfifo.h"

namespace {

class ReferenceQueue {
 public:
  void write(const void* data, int length) {
    std::vector<unsigned char> msg(static_cast<const unsigned char*>(data),
                                   static_cast<const unsigned char*>(data) + length);
    {
      std::lock_guard<std::mutex> lk(mutex_);
      queue_.push_back(std::move(msg));
    }
    cond_.notify_one();
  }
  int read(void* buffer, int size) {
    std::unique_lock<std::mutex> lk(mutex_);
    cond_.wait(lk, [this] { return !queue_.empty(); });
    std::vector<unsigned char> msg = std::move(queue_.front());
    queue_.pop_front();
    lk.unlock();
    int length = (int)msg.size();
    if (length > size) return -3;
    std::memcpy(buffer, msg.data(), msg.size());
    return length;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cond_;
  std::deque<std::vector<unsigned char>> queue_;
};

template <class Queue>
double rate(int messages, int bytes) {
  Queue queue;
  std::vector<unsigned char> payload(bytes, 0x5a);
  long long checksum = 0;
  auto start = std::chrono::steady_clock::now();
  std::thread consumer([&] {
    std::vector<unsigned char> buf(bytes + 1);
    for (int i = 0; i < messages; i++)
      checksum += queue.read(buf.data(), (int)buf.size());
  });
  for (int i = 0; i < messages; i++)
    queue.write(payload.data(), bytes);
  consumer.join();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (checksum != (long long)messages * bytes) {
    std::fprintf(stderr, "lost or damaged messages\n");
    std::exit(1);
  }
  return messages / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  // The counts are for a whole run; each round gets its share.
  int messages = (argc > 1 ? std::atoi(argv[1]) : 6000000) / otBenchRounds;
  int bytes = argc > 2 ? std::atoi(argv[2]) : 64;
  if (messages < 1 || bytes < 1) {
    std::fprintf(stderr, "usage: bench_fifo [messages] [message bytes]\n");
    return 2;
  }
  rate<otFifo>(messages / 10 + 1, bytes);  // warm-up
  rate<ReferenceQueue>(messages / 10 + 1, bytes);
  char label[64];
  std::snprintf(label, sizeof label, "otFifo (%d bytes each)", bytes);
  otBenchSide ours(label, "messages/s");
  otBenchSide ref("reference (std::mutex + condition_variable + deque)", "messages/s");
  otBenchInterleave(
      ours, [&] { return rate<otFifo>(messages, bytes); }, ref,
      [&] { return rate<ReferenceQueue>(messages, bytes); });
  ours.print();
  ref.print();
  otBenchRatio("ratio ours/reference", ours, ref, {&ours, &ref});
  return 0;
}
