// otSharedMemory: a named System V shared-memory segment (the process image of an
// acquisition daemon), shared by every process that passes the same file path.
//
// Segment layout: 40 reserved header bytes, then the user data; every offset of this interface
// counts from the start of the user data. The IPC key is ftok(path, 'b'). Each read and write
// copies under an exclusive flock on the named file, so that copies of different processes
// never interleave; getUserAdr() gives unlocked direct access.
//
// The lock belongs to this object's own descriptor of the file: threads of one process that
// share an object are serialised by an internal mutex, and a child process that wants to take
// part in the locking after fork() constructs its own object by path.
#ifndef OTSHAREDMEMORY_H
#define OTSHAREDMEMORY_H

#include <mutex>

class otSharedMemory {
 public:
  // Values of status.
  enum {
    SHM_OK = 0,
    SHM_ERROR_FILE = 1,     // the file could not be opened (the process has ended)
    SHM_ERROR_SEGMENT = 2,  // the segment could not be created or opened
    SHM_ERROR_ATTACH = 3,   // the segment could not be attached
    SHM_ERROR_STAT = 4,     // the segment's status could not be read
  };
  // Bytes in front of the user data, reserved; this class neither writes nor reads them.
  enum { SHM_HEADER_SIZE = 40 };

  // Opens (creating if needed) the file path with permission bits rwmode, creates or attaches
  // the segment of size + 40 bytes with the same permission bits. An existing segment is
  // attached as it is, its contents are kept; one smaller than size + 40 gives status 2.
  // If the file cannot be opened the process prints why and ends with exit status -1.
  otSharedMemory(const char* path, unsigned long size, int rwmode = 0600);
  // Detaches the segment and closes the file; the segment stays in the system. Addresses
  // obtained from getUserAdr() are invalid afterwards: a process that opens an image for each of
  // its sessions must not keep one mapping per session until it ends.
  virtual ~otSharedMemory();
  otSharedMemory(const otSharedMemory&) = delete;
  otSharedMemory& operator=(const otSharedMemory&) = delete;

  // Copies length bytes to or from the user data at offset under the file lock and returns
  // length; -1 (nothing copied) if status is not 0, the segment was deleted, data is null,
  // length <= 0, the range does not lie within the user data, or the lock cannot be taken.
  int write(unsigned long offset, const void* data, int length);
  int read(unsigned long offset, void* data, int length);

  // Typed access at offset + width * index in the machine's byte order. A negative index, or a
  // read that fails as above, gives -1 (-1.0 for float) without access; the readers of short
  // and byte sign-extend. The writers return write()'s result.
  int readInt(unsigned long offset, int index);
  int readShort(unsigned long offset, int index);
  int readByte(unsigned long offset, int index);
  float readFloat(unsigned long offset, int index);
  int writeInt(unsigned long offset, int index, int value);
  int writeShort(unsigned long offset, int index, int value);
  int writeByte(unsigned long offset, int index, unsigned char value);
  int writeFloat(unsigned long offset, int index, float value);

  // Removes the segment from the system (processes still attached keep their mapping) and
  // makes every later read and write of this object fail; size() becomes 0. Returns 0, or -1
  // if status is not 0 or the segment could not be removed (the object then stays usable).
  int deleteSharedMemory();

  // Start of the user data for unlocked direct access; null unless status is 0.
  void* getUserAdr();
  int shmKey();
  int shmId();
  // User size + 40; 0 after deleteSharedMemory() or a failed construction.
  unsigned long size();

  int status;

 private:
  char* name;
  int fd;
  int id;
  int key;
  void* segment_adr;
  void* user_adr;
  unsigned long size_;
  // Serialises the copies of threads that share this object: they share one open file
  // description, on which a second flock() does not wait and one thread's unlock would end
  // the other's lock while it is still copying.
  std::mutex mutex;

  // Bytes of user data that a copy may touch; 0 once the segment is deleted.
  unsigned long userSize() const;
  // Address of offset + width * index, or false if the index is negative or it overflows.
  template <class T>
  T readTyped(unsigned long offset, int index, T fail);
  template <class T>
  int writeTyped(unsigned long offset, int index, T value);
  static bool typedOffset(unsigned long offset, int index, unsigned long width,
                          unsigned long* result);
};

#endif
