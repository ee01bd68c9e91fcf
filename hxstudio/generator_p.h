// The generator's pieces that the tests and the benchmark look at: the runtime that every
// generated server carries, and the identifiers of a form's ids.
#ifndef HXSTUDIO_GENERATOR_P_H
#define HXSTUDIO_GENERATOR_P_H

#include <QString>
#include <QStringList>
#include <QVector>

#include "project.h"
#include "uiform.h"

// "studio_generated.h" and "studio_generated.cpp": the event loop, the binding code and the
// server's main of a generated display server (plain C++ over otserver and otkit).
QString studioRuntimeHeader();
QString studioRuntimeSource();

// The enum identifier of each object name, in the order given: names that are not C++
// identifiers, keywords or names the generated code uses become identifiers (characters other
// than letters, digits and '_' become '_', a name that does not start with a letter gets
// "id_" in front, a keyword or reserved name gets a trailing '_'), and identifiers that would
// collide get "_2", "_3", ... . Unique names give unique identifiers.
QStringList studioIdentifiers(const QStringList& objectNames);

// The user's file "mask<number>_events.cpp" as the generator first writes it.
QString studioEventsFile(int number);

// A C++ string literal of text (UTF-8; quotes, backslashes, control characters and '?' escaped).
QString studioCString(const QString& text);

// The server program's name (and CMake target): the folder's name, characters other than ASCII
// letters, digits, '_' and '-' replaced by '_'.
QString studioProgramName(const StudioProject& p);

#endif
