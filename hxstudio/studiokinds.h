// The widget kinds of the studio: the type tag a design widget carries at the start of its
// status tip, the class a .ui file names for it, and whether it shows or writes a tag.
#ifndef HXSTUDIO_STUDIOKINDS_H
#define HXSTUDIO_STUDIOKINDS_H

#include <QString>

struct StudioKind {
  const char* tag;      // "TQLabel:"
  const char* uiClass;  // "QLabel"; the designer plug-in's placeholder for client-only kinds
  const char* header;   // the header a .ui file names for a custom class, "" for Qt's own
  int binding;          // what a binding to a tag does: 0 none, 1 shows it, 2 writes it, 3 both
};

// Every kind, in the order of the catalogue of the insert dialog (pages "TQWidget:" and button
// groups "TQButtonGroup:" included). kindCount() entries.
const StudioKind* studioKinds();
int studioKindCount();
// By tag (the status tip's first word up to and including its colon) or by .ui class; null
// for an unknown one.
const StudioKind* studioKindByTag(const QString& tagOrStatusTip);
const StudioKind* studioKindByClass(const QString& uiClass);
// What a kind reads from its whatsThis property, as a field's label ("Image file" for an
// image widget); "" for a kind that reads nothing from it. The path of a file is taken
// relative to the display server's data folder.
QString studioAttributeLabel(const StudioKind* k);
// The tag at the start of a status tip: "TQLabel:" of "TQLabel:font:"; "" when there is none.
QString studioTagOf(const QString& statusTip);
// The markers "font:", "foreground:", "background:" of a status tip.
bool studioHasMarker(const QString& statusTip, const QString& marker);
QString studioSetMarker(const QString& statusTip, const QString& marker, bool on);

// The dynamic property of a widget that names the tag it is bound to (kept by Qt Designer).
#define STUDIO_TAG_PROPERTY "otkitTag"

#endif
