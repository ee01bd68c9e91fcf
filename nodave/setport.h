/* Opening the serial line for a PPI acquisition daemon. Plain C: generated daemons include this
   inside extern "C". */
#ifndef OTNODAVE_SETPORT_H
#define OTNODAVE_SETPORT_H

/* Opens the device name read/write without making it the controlling terminal, in raw mode with
   8 data bits, 1 stop bit and parity 'E' (even), 'O' (odd) or 'N' (none); baud is the speed as a
   decimal string ("9600"); only standard terminal speeds (300 ... 230400 and the higher ones the
   system knows) are taken. Pending input and output are discarded. The descriptor is blocking
   and close-on-exec, and never one of 0, 1, 2.
   Returns the descriptor, or -1 after one line on standard error naming the device (or the
   speed) and the reason. A bad speed or parity is refused before the device is opened. */
int setPort(const char* name, const char* baud, char parity);

#endif
