#include "otwritecoalescer.h"

#include <utility>

otWriteCoalescer::otWriteCoalescer(Post p) : post(std::move(p)) {}

int otWriteCoalescer::put(int key, long value) {
  bool found = false;
  for (Entry& e : queue) {
    if (e.key != key) continue;
    e.value = value;
    supersededCount++;
    found = true;
    break;
  }
  // Behind the keys pending before it: posting it first would reorder the requests.
  if (!found) queue.push_back({key, value});
  int result = 1;
  send(key, &result);
  return result;
}

int otWriteCoalescer::flush() {
  int unused = 0;
  send(-1, &unused);
  return (int)queue.size();
}

void otWriteCoalescer::send(int key, int* result) {
  size_t done = 0;
  while (done < queue.size()) {
    const Entry& e = queue[done];
    int r = post ? post(e.key, e.value) : -1;
    if (r == -2) break;
    if (r == 0)
      postedCount++;
    else
      failedCount++;
    if (e.key == key) *result = r == 0 ? 0 : -1;
    done++;
  }
  queue.erase(queue.begin(), queue.begin() + (long)done);
}
