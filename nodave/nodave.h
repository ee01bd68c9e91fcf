/* otnodave: the PPI calls that generated acquisition daemons make, in plain C (they include
   this inside extern "C").

   PPI framing is not implemented by this layer: interfaces and connections are kept, arguments
   are checked, and every transfer with valid arguments returns daveResNotImplemented without
   touching the buffer or the line. The first such transfer in a process says so once on
   standard error. No data is ever made up. */
#ifndef OTNODAVE_NODAVE_H
#define OTNODAVE_NODAVE_H

/* The line as setPort returned it; PPI uses one descriptor for both directions. */
typedef struct {
  int rfd;
  int wfd;
} _daveOSserialType;

typedef struct _daveInterface daveInterface;
typedef struct _daveConnection daveConnection;

/* Bus speeds. */
#define daveSpeed9k 0
#define daveSpeed19k 1
#define daveSpeed187k 2
#define daveSpeed500k 3
#define daveSpeed1500k 4
#define daveSpeed45k 5
#define daveSpeed93k 6

/* Protocols: PPI only. */
#define daveProtoPPI 10

/* Memory areas, coded as the S7 protocol codes them. */
#define daveSD 0x3
#define daveInputs 0x81
#define daveOutputs 0x82
#define daveFlags 0x83
#define daveDB 0x84
#define daveDI 0x85
#define daveLocal 0x86
#define daveV 0x87
#define daveCounter 28
#define daveTimer 29

/* Result codes: 0 is success, every failure is negative. */
#define daveResOK 0
#define daveResNotImplemented (-1)
#define daveResNoConnection (-2)
#define daveResInvalidArgument (-3)

/* Keeps the line and the arguments (name is copied). Returns null for a protocol other than
   daveProtoPPI, a speed other than daveSpeed9k ... daveSpeed93k, or when out of memory. */
daveInterface* daveNewInterface(_daveOSserialType fd, const char* name, int localMPI, int protocol,
                                int speed);

/* A connection to the station with bus address MPI. Returns null for a null interface or when
   out of memory. The connection does not depend on the interface after this call. */
daveConnection* daveNewConnection(daveInterface* di, int MPI, int rack, int slot);

/* Frees an interface or a connection made above; null is ignored. The descriptors are the
   caller's and stay open. */
void daveFree(void* p);

/* Transfer len bytes at byte address start of area (data block DB for daveDB) into or from
   buffer. Returns daveResNoConnection for a null connection; daveResInvalidArgument for
   len < 0, a null buffer with len > 0, a negative start or DB, or an unknown area; else
   daveResNotImplemented. The buffer and the line are never touched. */
int daveReadBytes(daveConnection* dc, int area, int DB, int start, int len, void* buffer);
int daveWriteBytes(daveConnection* dc, int area, int DB, int start, int len, void* buffer);

/* A text for every code, unknown ones included; never null. */
const char* daveStrerror(int code);

#endif
