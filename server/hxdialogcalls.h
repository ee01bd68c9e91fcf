// The display-server library: dialogs that ask the operator (file, message, input, popup menu) and
// the global calls of a server (threads, timing, warnings, downloads, the client's own commands).
// Included by hxserver.h, which declares PARAM_.
#ifndef HXDIALOGCALLS_H
#define HXDIALOGCALLS_H

#endif
