// The conversion of otsvgcat: an SVG (XML) document to the line form that the SVG animator
// sends to a display client and reads attributes from. Each element's opening stands on its
// own line ("<" and the tag name), then one attribute per line (name="value"), then ">" (or
// "/>" for an element without content); text content and closing tags have lines of their
// own. The result is XML again: entities and character references come out escaped; comments,
// processing instructions and the document type are left out; CDATA becomes escaped text.
#ifndef OTSVGCAT_SVGCAT_H
#define OTSVGCAT_SVGCAT_H

#include <stddef.h>

#include <string>

// Converts the len bytes at data. Returns 0 with the text in *out, or -1 with a message
// ("line L, column C: what") in *error for input that is not well-formed XML.
int svgcatConvert(const char* data, size_t len, std::string* out, std::string* error);

#endif
