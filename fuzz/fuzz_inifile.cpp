// Feeds arbitrary bytes to otIniFile::read through a file, then walks, looks up, edits,
// translates and writes. Also checks that writing is stable: a written file read back and
// written again gives the same bytes (unless a section name starts with "#", which is written
// as a plain line and so reads back as a comment).
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "otinifile.h"

namespace {

std::string tempPaths[3];

void removeTempFiles() {
  for (const std::string& p : tempPaths)
    if (!p.empty()) unlink(p.c_str());
}

const std::string& tempPath(int i) {
  if (tempPaths[0].empty()) {
    for (std::string& p : tempPaths) {
      const char* dir = getenv("TMPDIR");
      p = std::string(dir && *dir ? dir : "/tmp") + "/fuzz_inifile_XXXXXX";
      int fd = mkstemp(&p[0]);
      if (fd < 0) abort();
      close(fd);
    }
    atexit(removeTempFiles);
  }
  return tempPaths[i];
}

std::string slurp(const std::string& path) {
  std::string out;
  FILE* fp = fopen(path.c_str(), "rb");
  if (!fp) abort();
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), fp)) > 0)
    out.append(buf, n);
  fclose(fp);
  return out;
}

bool hasHashSection(otIniFile& ini) {
  for (const char* s = ini.firstSection(); s; s = ini.nextSection())
    if (s[0] == '#') return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& in = tempPath(0);
  const std::string& out = tempPath(1);
  const std::string& again = tempPath(2);
  FILE* fp = fopen(in.c_str(), "wb");
  if (!fp) abort();
  if (size) fwrite(data, 1, size, fp);
  fclose(fp);

  otIniFile ini;
  if (ini.read(in.c_str()) != 0) abort();

  // Walk everything and look every name up; translate through each section as language.
  char* buffer = nullptr;
  std::string lastSection, lastName;
  for (const char* s = ini.firstSection(); s; s = ini.nextSection()) {
    std::string section = s;
    ini.setDefaultSection(section.c_str());
    for (const char* n = ini.firstName(section.c_str()); n; n = ini.nextName(section.c_str())) {
      const char* v = ini.text(section.c_str(), n);
      if (!v) abort();
      ini.tr(n);
      ini.i18n(n, nullptr);
      ottranslate2(nullptr, v, &buffer);
      lastName = n;
    }
    lastSection = section;
  }

  if (ini.write(out.c_str()) != 0) abort();
  if (!hasHashSection(ini)) {
    otIniFile back;
    if (back.read(out.c_str()) != 0 || back.write(again.c_str()) != 0) abort();
    if (slurp(out) != slurp(again)) abort();
  }

  // The process-wide translator on the same file, in the last section's language.
  otSetTranslator(lastSection.c_str(), in.c_str());
  if (!lastName.empty()) {
    ottranslate(lastName.c_str(), &buffer);
    ottranslate2(lastSection.c_str(), lastName.c_str(), &buffer);
    ottranslate(buffer ? buffer : "", &buffer);
  }

  // Edit with the input's own bytes as texts, then write and read back.
  std::string text(reinterpret_cast<const char*>(data), size > 200 ? 200 : size);
  text = text.c_str();  // up to the first NUL
  ini.setText(lastSection.c_str(), text.c_str(), text.c_str());
  ini.printf(text.c_str(), lastName.c_str(), "%s|%zu", text.c_str(), size);
  ini.remove(lastSection.c_str(), lastName.c_str());
  ini.firstSection();
  ini.nextSection();
  ini.remove(lastSection.c_str());
  ini.nextSection();
  if (ini.write(out.c_str()) != 0) abort();
  if (ini.read(out.c_str()) != 0) abort();
  free(buffer);
  return 0;
}
