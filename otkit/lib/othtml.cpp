#include "othtml.h"

#include <string.h>
#include <sys/stat.h>

#include "otfileload.h"
#include "otspawn.h"

otHtml::otHtml() {}

otHtml::~otHtml() {}

const char* otHtml::htmlHeader() {
  return "<html>\n<head>\n  <meta charset=\"utf-8\"> <title>otHtmlDir</title>\n"
         "  <link rel=\"stylesheet\" type=\"text/css\" href=\"othtml.css\">\n</head>\n"
         "<body id=\"othtmlbody\">\n";
}

const char* otHtml::htmlTrailer() {
  return "</body>\n</html>\n";
}

void otHtml::appendEscaped(std::string& out, const char* text, int n, int quote) {
  if (text == nullptr) return;
  for (int i = 0; text[i] != '\0' && (n < 0 || i < n); i++) {
    if (text[i] == '<')
      out += "&lt;";
    else if (text[i] == '>')
      out += "&gt;";
    else if (quote && text[i] == '"')
      out += "&quot;";
    else
      out += text[i];
  }
}

int otHtml::textFile(const char* path, otString& s) {
  if (path == nullptr) return -1;
  struct stat st;
  long size = otStat(path, &st) == 0 ? (long)st.st_size : 0L;
  otFileLoad file;
  if (file.load(path) < 0) return -1;
  std::string page = htmlHeader();
  // The path is escaped too: a file name is outside text like the file's content.
  page += "<p>File=";
  appendEscaped(page, path);
  char sizes[80];
  snprintf(sizes, sizeof(sizes), " Size=%ldByte, %ldkByte</p><hr>\n", size, size / 1024);
  page += sizes;
  page += "<pre id=\"otTextFile\">\n";
  for (const char* line = file.firstLine(); line != nullptr; line = file.nextLine()) {
    appendEscaped(page, line);
    page += '\n';
  }
  page += "</pre>\n";
  page += htmlTrailer();
  s = page.c_str();
  return 0;
}

int otHtml::hexdumpFile(const char* path, otString& s) {
  // od is started without a shell; its arguments are split at blanks, and double quotes
  // group blanks into one argument but cannot be carried inside one.
  if (path == nullptr || strchr(path, '"') != nullptr) return -1;
  std::string command = "od -A x -t x1z -v \"";
  // A path that begins with '-' would be read by od as an option.
  if (path[0] == '-') command += "./";
  command += path;
  command += '"';
  otSpawn od;
  if (od.spawn(command.c_str()) < 0) return -1;
  std::string page = htmlHeader();
  page += "<pre id=\"otHexdumpFile\">\n";
  for (const char* line = od.readLine(); line != nullptr; line = od.readLine())
    appendEscaped(page, line);
  page += "</pre>\n";
  page += htmlTrailer();
  s = page.c_str();
  return 0;
}
