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
  int messages = argc > 1 ? std::atoi(argv[1]) : 2000000;
  int bytes = argc > 2 ? std::atoi(argv[2]) : 64;
  rate<otFifo>(messages / 10, bytes);  // warm-up
  rate<ReferenceQueue>(messages / 10, bytes);
  double ours = 0, ref = 0;
  // Alternate the two and keep each one's best of three, so that neither profits from a
  // quieter moment of the machine.
  for (int round = 0; round < 3; round++) {
    double a = rate<otFifo>(messages, bytes);
    double b = rate<ReferenceQueue>(messages, bytes);
    if (a > ours) ours = a;
    if (b > ref) ref = b;
  }
  std::printf("otFifo:    %.0f messages/s (%d bytes each)\n", ours, bytes);
  std::printf("reference: %.0f messages/s (std::mutex + condition_variable + deque)\n", ref);
  std::printf("ratio ours/reference: %.2f\n", ours / ref);
  return 0;
}
