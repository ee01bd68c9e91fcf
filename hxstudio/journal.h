// The journal of a mask: the .ui text of the mask as it stood after its last command, kept
// beside the mask file as "<mask>.ui.journal" until the mask is saved, so that a studio that
// dies (a crash, kill -9, a power cut) loses no edit. Each write replaces the whole journal
// atomically and durably, so a journal is always one complete state, never half of one.
#ifndef HXSTUDIO_JOURNAL_H
#define HXSTUDIO_JOURNAL_H

#include <QByteArray>
#include <QString>

// "<maskPath>.journal".
QString journalPathFor(const QString& maskPath);
// Writes text to path through a temporary file in the same folder: write, fsync, rename over
// path, fsync of the folder. 0, or -1 and *error (the old journal is then untouched).
int journalWrite(const QString& path, const QByteArray& text, QString* error);
// Removes the journal; 0 also when there is none, -1 when it stays.
int journalRemove(const QString& path);
// Removes the temporary files of writes that a crash cut short ("<path>.tmp-XXXXXX"). The
// journal itself stays.
void journalCleanup(const QString& path);
// Reads a journal (at most 64 MiB). 0, or -1 and *error.
int journalRead(const QString& path, QByteArray* text, QString* error);
// 1 when the mask has a journal worth recovering: it exists, is not older than the mask file
// (or the mask file is missing) and holds another text than the mask file; else 0.
int journalPending(const QString& maskPath);

#endif
