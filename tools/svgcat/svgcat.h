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

// The same conversion fed piece by piece, so that a document of any size passes through a
// bounded amount of memory: the text converted from each piece goes to the sink before feed()
// returns (an element's opening waits for the next piece when it cannot be finished yet). Only
// a single attribute value or text run is held whole.
class SvgcatStream {
 public:
  // Takes len bytes of converted text; false stops the conversion (feed() then fails).
  typedef bool (*Sink)(const char* text, size_t len, void* user);

  SvgcatStream(Sink sink, void* user);
  ~SvgcatStream();
  SvgcatStream(const SvgcatStream&) = delete;
  SvgcatStream& operator=(const SvgcatStream&) = delete;

  // Converts the next len bytes of the document; last marks its end. 0, or -1 with the reason
  // in error(): not well-formed XML ("line L, column C: what"), out of memory, or a sink that
  // refused. After -1 every further feed() fails too.
  int feed(const char* data, size_t len, bool last);
  const std::string& error() const { return error_; }

 private:
  struct Impl;
  Impl* impl_;
  std::string error_;
};

#endif
