// otWriteCoalescer: write requests that a newer one makes pointless before they are posted.
// An operator who drags a slider sends a value for every pixel; the device needs only the
// last. Each key (a widget, a tag) holds at most one pending value, and a newer value replaces
// it (the latest wins), so that however fast the values come and however slowly the mailbox
// takes them, the last one always arrives and nothing else piles up.
//
// The post function is the device client's write: 0 posted, -2 not now (a full mailbox that
// does not wait: the value stays pending for the next flush), anything else refused for good
// (the value is dropped and counted as failed).
//
// An object belongs to one thread at a time.
#ifndef OTWRITECOALESCER_H
#define OTWRITECOALESCER_H

#include <functional>
#include <vector>

class otWriteCoalescer {
 public:
  typedef std::function<int(int key, long value)> Post;

  explicit otWriteCoalescer(Post post);
  otWriteCoalescer(const otWriteCoalescer&) = delete;
  otWriteCoalescer& operator=(const otWriteCoalescer&) = delete;

  // Makes value the pending value of key (a pending one it replaces counts as superseded) and
  // flushes. 0 when it was posted at once, 1 when it is pending, -1 when it was refused.
  int put(int key, long value);
  // Posts the pending values, oldest key first, until the post function says "not now".
  // Returns how many stay pending.
  int flush();
  int pending() const { return (int)queue.size(); }
  // Counts since construction: posted, replaced while pending, refused by the post function.
  long posted() const { return postedCount; }
  long superseded() const { return supersededCount; }
  long failed() const { return failedCount; }

 private:
  struct Entry {
    int key;
    long value;
  };
  // Posts from the front until "not now"; *result becomes 0 or -1 when key's value left.
  void send(int key, int* result);

  Post post;
  std::vector<Entry> queue;  // in the order the keys became pending; few keys are pending
  long postedCount = 0;
  long supersededCount = 0;
  long failedCount = 0;
};

#endif
