/* otnodave: the PPI calls that generated acquisition daemons make, in plain C (they include
   this inside extern "C").

   This layer is the only master on the line (no token passing): every transfer is one or more
   S7 jobs, each sent as a PPI request, acknowledged by the station with E5 and fetched with a
   poll. Missing or damaged answers are asked for again (twice, keeping the frame count bit, so
   that the station repeats its answer instead of carrying a job out twice); what still fails
   is reported as an error code and never as data. */
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
#define daveResNotImplemented (-1) /* no longer returned; kept for programs that test for it */
#define daveResNoConnection (-2)
#define daveResInvalidArgument (-3)
/* The station was not reached: codes -4 to -12 (daveIsUnreachable). */
#define daveResTimeout (-4)           /* no answer at all */
#define daveResCutTelegram (-5)       /* the line fell silent inside a telegram */
#define daveResBadStart (-6)          /* no start byte where one belongs */
#define daveResBadLength (-7)         /* length bytes differ, or the telegram does not match them */
#define daveResBadChecksum (-8)       /* frame check sequence wrong */
#define daveResNoEndDelimiter (-9)    /* no end delimiter where the length puts it */
#define daveResLineError (-10)        /* the serial line failed or was hung up */
#define daveResWrongAddress (-11)     /* an answer from another station, or for another master */
#define daveResUnexpectedAnswer (-12) /* a sound telegram that does not answer the request */
/* The station refused the job with S7 item return code c (0x05 address out of range, 0x0A
   object does not exist, ...): daveResRefused - c. */
#define daveResRefused (-256)

/* The PPI master on the line fd (as setPort returned it; a copy of the descriptor is kept, so
   the caller may close its own) with bus address localMPI (0 to 126). speed is the bus speed
   of the profile; the line's own speed is the one setPort set. name is copied.
   Returns null for a protocol other than daveProtoPPI, a speed other than daveSpeed9k ...
   daveSpeed93k, an address outside 0 to 126, a descriptor that is not a terminal, or when out
   of memory. */
daveInterface* daveNewInterface(_daveOSserialType fd, const char* name, int localMPI, int protocol,
                                int speed);

/* A connection to the station with bus address MPI (0 to 126, not the interface's own). Returns
   null for a null interface, such an address, or when out of memory. The connection keeps the
   line; it does not depend on the interface object after this call. */
daveConnection* daveNewConnection(daveInterface* di, int MPI, int rack, int slot);

/* Frees an interface or a connection made above; null is ignored. The line is closed with the
   last of them; the caller's descriptor stays open. */
void daveFree(void* p);

/* Transfer len bytes at byte address start of area (data block DB for daveDB and daveDI; V
   memory is daveDB with DB 1, or daveV) into or from buffer, in jobs of up to 222 (read) or 212
   (write) bytes. Counters and timers are addressed by byte as the other areas, with the S7-200
   area codes 0x1E and 0x1F on the line. Returns daveResOK (len 0 sends nothing);
   daveResNoConnection for a null connection; daveResInvalidArgument for len < 0, a null buffer
   with len > 0, a negative start or DB, an address beyond the protocol's fields or an unknown
   area; an unreachable code (daveIsUnreachable) or daveResRefused - c otherwise. A read that
   fails leaves buffer unchanged; a write that fails may have written its first jobs. */
int daveReadBytes(daveConnection* dc, int area, int DB, int start, int len, void* buffer);
int daveWriteBytes(daveConnection* dc, int area, int DB, int start, int len, void* buffer);

/* 1 for the codes that mean the station was not reached (-4 to -12), else 0. */
int daveIsUnreachable(int code);

/* A text for every code, unknown ones included; never null. */
const char* daveStrerror(int code);

#endif
