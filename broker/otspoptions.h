// The command lines of the broker programs: options of the form "-name=value", and the ones of
// the MQTT session and of the log that every broker program takes.
#ifndef OTSPOPTIONS_H
#define OTSPOPTIONS_H

#include <string>

#include "otmqtt.h"

// The value of arg when it is "name=value", null otherwise.
const char* otSpOptionValue(const char* arg, const char* name);
// A decimal number of lo..hi, the whole text.
bool otSpNumber(const char* text, long lo, long hi, long* out);
// -broker=LIST, -user=NAME, -password=TEXT, -cafile=FILE, -keepalive=S and -log=LEVEL: 1 when
// arg is one of them (taken into o, or the log level set), 0 when it is none, -1 (*error why)
// for a bad value.
int otSpCommonOption(const char* arg, otMqttOptions* o, std::string* error);
// After the options: the broker list when none was given (localhost:1883).
void otSpCommonDefaults(otMqttOptions* o);
// The lines of -h for them.
extern const char* const otSpCommonHelp;

#endif
