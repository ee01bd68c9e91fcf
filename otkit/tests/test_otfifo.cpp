#include "otfifo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

TEST(otFifoQueue, BoundedQueueRefusesWhenFull) {
  otFifo fifo(2);
  EXPECT_EQ(fifo.poll(), otFifo::NO_MESSAGE);
  EXPECT_EQ(fifo.write("a", 1), 1);
  EXPECT_EQ(fifo.poll(), otFifo::MESSAGE_AVAILABLE);
  EXPECT_EQ(fifo.write("bb", 2), 2);
  EXPECT_EQ(fifo.write("ccc", 3), otFifo::FIFO_FULL);
  EXPECT_EQ(fifo.nmesAvailable(), 2);
  char buf[8];
  EXPECT_EQ(fifo.read(buf, sizeof(buf)), 1);
  EXPECT_STREQ(buf, "a");
  EXPECT_EQ(fifo.write("ccc", 3), 3);
  EXPECT_EQ(fifo.read(buf, sizeof(buf)), 2);
  EXPECT_STREQ(buf, "bb");
  EXPECT_EQ(fifo.read(buf, sizeof(buf)), 3);
  EXPECT_STREQ(buf, "ccc");
  EXPECT_EQ(fifo.nmesAvailable(), 0);
}

TEST(otFifoQueue, SmallBufferLeavesTheMessageQueued) {
  otFifo fifo;
  fifo.write("hello", 5);
  fifo.write("x", 1);
  char small[4];
  EXPECT_EQ(fifo.read(small, sizeof(small)), otFifo::BUFFER_TOO_SMALL);
  EXPECT_EQ(fifo.nmesAvailable(), 2);
  char exact[5];
  EXPECT_EQ(fifo.read(exact, sizeof(exact)), 5);  // exactly the size: no NUL behind it
  EXPECT_EQ(std::memcmp(exact, "hello", 5), 0);
  char big[8];
  EXPECT_EQ(fifo.read(big, sizeof(big)), 1);
  EXPECT_STREQ(big, "x");
}

TEST(otFifoQueue, BinaryEmptyAndFormattedMessages) {
  otFifo fifo;
  const unsigned char bin[] = {0, 1, 0xff, 0};
  EXPECT_EQ(fifo.write(bin, 4), 4);
  EXPECT_EQ(fifo.write(nullptr, 0), 0);
  EXPECT_EQ(fifo.write(nullptr, 3), -1);
  EXPECT_EQ(fifo.write(bin, -1), -1);
  EXPECT_EQ(fifo.printf("value=%d", 17), 8);
  unsigned char buf[16];
  EXPECT_EQ(fifo.read(buf, sizeof(buf)), 4);
  EXPECT_EQ(std::memcmp(buf, bin, 4), 0);
  EXPECT_EQ(fifo.read(buf, sizeof(buf)), 0);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(fifo.read(buf, sizeof(buf)), 8);
  EXPECT_STREQ(reinterpret_cast<char*>(buf), "value=17");
  std::string big(5000, 'q');
  EXPECT_EQ(fifo.printf("%s", big.c_str()), 4095);
}

// Spent messages are written again: sizes around the kept size, in and out of turn, keep
// their bytes, and a full bounded queue refuses without touching the kept ones.
TEST(otFifoQueue, ReusedMessagesKeepTheirBytes) {
  otFifo fifo(600);
  const int sizes[] = {1, 239, 240, 241, 5000, 0, 64};
  std::vector<std::string> sent;
  for (int round = 0; round < 3; round++) {
    for (int i = 0; i < 600; i++) {
      int n = sizes[(i + round) % 7];
      std::string m((size_t)n, (char)('a' + (i + round) % 26));
      if (n > 0) m[0] = (char)i;
      ASSERT_EQ(fifo.write(m.data(), n), n);
      sent.push_back(m);
    }
    EXPECT_EQ(fifo.write("x", 1), otFifo::FIFO_FULL);
    std::vector<char> buf(6000);
    for (int i = 0; i < 600; i++) {
      int n = fifo.read(buf.data(), (int)buf.size());
      ASSERT_EQ(std::string(buf.data(), (size_t)n), sent[(size_t)(round * 600 + i)]) << i;
    }
  }
  EXPECT_EQ(fifo.nmesAvailable(), 0);
}

TEST(otFifoQueue, ReadBlocksUntilAWrite) {
  otFifo fifo;
  std::atomic<int> got{-100};
  std::thread reader([&] {
    char buf[16];
    got = fifo.read(buf, sizeof(buf));
  });
  otsleep(50);
  EXPECT_EQ(got, -100);
  fifo.write("late", 4);
  reader.join();
  EXPECT_EQ(got, 4);
}

TEST(otFifoQueue, BigReaderIsWokenAfterASmallReaderGaveUp) {
  otFifo fifo;
  std::atomic<int> big{-100};
  std::thread bigReader([&] {
    char buf[64];
    big = fifo.read(buf, sizeof(buf));
  });
  std::atomic<int> small{-100};
  std::thread smallReader([&] {
    char buf[2];
    small = fifo.read(buf, sizeof(buf));
  });
  otsleep(50);
  fifo.write("a long message", 14);
  // Whichever reader woke first, the message was not lost to the one that could take it.
  bigReader.join();
  EXPECT_EQ(big, 14);
  fifo.write("z", 1);  // for the small reader, if it is still waiting
  smallReader.join();
  EXPECT_TRUE(small == otFifo::BUFFER_TOO_SMALL || small == 1) << small;
}

TEST(otFifoConcurrency, ManyProducersAndConsumersLoseNothing) {
  const int producers = 4, consumers = 4, perProducer = 5000;
  otFifo fifo;
  std::vector<std::atomic<int>> seen(producers * perProducer);
  std::vector<std::thread> threads;
  std::atomic<int> received{0};
  for (int c = 0; c < consumers; c++)
    threads.emplace_back([&] {
      for (;;) {
        int msg[2];
        int n = fifo.read(msg, sizeof(msg));
        if (n == (int)sizeof(int)) return;  // stop marker
        ASSERT_EQ(n, (int)sizeof(msg));
        seen[msg[0] * perProducer + msg[1]]++;
        received++;
      }
    });
  std::vector<std::thread> writers;
  for (int p = 0; p < producers; p++)
    writers.emplace_back([&, p] {
      for (int i = 0; i < perProducer; i++) {
        int msg[2] = {p, i};
        ASSERT_EQ(fifo.write(msg, sizeof(msg)), (int)sizeof(msg));
      }
    });
  for (auto& w : writers)
    w.join();
  for (int c = 0; c < consumers; c++) {
    int stop = -1;
    fifo.write(&stop, sizeof(stop));
  }
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(received, producers * perProducer);
  for (auto& s : seen)
    ASSERT_EQ(s, 1);
  EXPECT_EQ(fifo.poll(), otFifo::NO_MESSAGE);
}

TEST(otFifoConcurrency, BoundedQueueNeverHoldsMoreThanItsLimit) {
  const int limit = 8;
  otFifo fifo(limit);
  std::atomic<bool> stop{false};
  std::atomic<int> accepted{0}, maxSeen{0};
  std::vector<std::thread> writers;
  for (int p = 0; p < 4; p++)
    writers.emplace_back([&] {
      while (!stop) {
        if (fifo.write("m", 1) == 1) accepted++;
        int n = fifo.nmesAvailable();
        if (n > maxSeen) maxSeen = n;
      }
    });
  int read = 0;
  char buf[4];
  while (read < 20000) {
    ASSERT_EQ(fifo.read(buf, sizeof(buf)), 1);
    read++;
  }
  stop = true;
  for (auto& w : writers)
    w.join();
  EXPECT_LE(maxSeen, limit);
  EXPECT_EQ(accepted - read, fifo.nmesAvailable());
}

// Small and large messages in a stream: small ones come back to the writer for reuse while the
// reader copies the next, large ones are freed once read; each must arrive with its own bytes.
TEST(otFifoConcurrency, AStreamOfMixedSizesArrivesIntact) {
  const int count = 100000;
  otFifo fifo;
  std::thread writer([&] {
    std::vector<unsigned char> msg(600);
    for (int i = 0; i < count; i++) {
      int length = (i * 7) % 600;
      std::memset(msg.data(), i & 0xff, (size_t)length);
      ASSERT_EQ(fifo.write(msg.data(), length), length);
    }
  });
  std::vector<unsigned char> buf(601);
  int bad = 0;
  for (int i = 0; i < count; i++) {
    int length = fifo.read(buf.data(), (int)buf.size());
    if (length != (i * 7) % 600) {
      bad++;
      continue;
    }
    for (int k = 0; k < length; k++)
      if (buf[k] != (unsigned char)(i & 0xff)) {
        bad++;
        break;
      }
  }
  writer.join();
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(fifo.nmesAvailable(), 0);
}

// A reader cancelled while it sleeps leaves the queue usable and counts no longer as waiting.
TEST(otFifoConcurrency, ACancelledReaderLeavesTheQueueUsable) {
  otFifo fifo;
  pthread_t reader;
  ASSERT_EQ(pthread_create(
                &reader, nullptr,
                [](void* arg) -> void* {
                  char buf[8];
                  static_cast<otFifo*>(arg)->read(buf, sizeof(buf));
                  return nullptr;
                },
                &fifo),
            0);
  otsleep(50);
  pthread_cancel(reader);
  void* result = nullptr;
  pthread_join(reader, &result);
  EXPECT_EQ(result, PTHREAD_CANCELED);
  EXPECT_EQ(fifo.write("ok", 2), 2);
  char buf[8];
  EXPECT_EQ(fifo.read(buf, sizeof(buf)), 2);
  EXPECT_STREQ(buf, "ok");
}
