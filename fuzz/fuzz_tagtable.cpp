// Feeds arbitrary text to the tag table's parser and to the reader of daemon headers. Input
// with a line "%%" is split there: the header before it, the table after it, so that the
// tags are also checked against a daemon of each kind. Checks that a table that parses formats
// to text that parses to the same table, and that every tag proposed for a header passes the
// check against it.
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "ottagtable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string headerText = input, tableText = input;
  size_t split = input.find("\n%%\n");
  if (split != std::string::npos) {
    headerText = input.substr(0, split + 1);
    tableText = input.substr(split + 4);
  }

  otDaemonHeader header;
  std::string error;
  const bool haveHeader = otReadDaemonHeader(headerText.c_str(), &header, &error) == 0;
  if (haveHeader) {
    if (header.kind < otDaemonHeader::MODBUS || header.kind > otDaemonHeader::PPI) abort();
    for (const otTag& t : otTagTable::propose(header, "h.h"))
      if (otTagTable::check(t, &header, &error) != 0) abort();
  } else if (error.empty()) {
    abort();  // a refusal always says why
  }

  otTagTable table;
  if (table.parse(tableText.c_str(), &error) != 0) {
    if (error.compare(0, 5, "line ") != 0) abort();
  }
  // Whatever was read before a bad line formats and reads back as it is.
  const std::string text = table.format();
  otTagTable back;
  if (back.parse(text.c_str(), &error) != 0) abort();
  if (back.tags.size() != table.tags.size() || back.format() != text) abort();
  for (size_t i = 0; i < table.tags.size(); i++) {
    const otTag &a = table.tags[i], &b = back.tags[i];
    if (a.name != b.name || a.unit != b.unit || a.scale != b.scale || a.offset != b.offset ||
        a.address != b.address || a.type != b.type || a.index != b.index)
      abort();
    if (haveHeader) otTagTable::check(a, &header, &error);
  }
  return 0;
}
