// othtml2pdf: renders an HTML file (or standard input) into a PDF file with Qt's rich-text
// document and printer, or hands a PDF file to the print spooler (lp). Display servers use it
// for shift reports and batch records.
#include <errno.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPrintDialog>
#include <QPrinter>
#include <QTextCodec>
#include <QTextDocument>
#include <QUrl>
#include <memory>
#include <string>
#include <vector>

#include "otcutil.h"
#include "othtml2pdf_filter.h"

extern char** environ;

namespace {

const char kHelp[] =
    "usage: othtml2pdf <-options> inputfilename <outputfilename|printername|defaultprinter>\n"
    "### global options ####################################################\n"
    "-debug                   # print progress messages\n"
    "-                        # read the HTML from stdin instead of inputfilename\n"
    "-tableopt=text           # insert text into every <table> tag, e.g. -tableopt=border=1\n"
    "-imgopt=text             # insert text into every <img> tag, e.g. -imgopt=width=200\n"
    "-list                    # end at once with status 0\n"
    "### QPrinter options ##################################################\n"
    "-ask                     # choose the printer in a print dialog\n"
    "-lm=%f                   # mm left margin\n"
    "-rm=%f                   # mm right margin\n"
    "-tm=%f                   # mm top margin\n"
    "-bm=%f                   # mm bottom margin\n"
    "-ax=%d                   # page size, default 4 (A4):\n"
    "                         #  0=A0 1=A1 2=A2 3=A3 4=A4 5=A5 6=A6 7=A7 8=A8 9=A9\n"
    "                         # 10=B0 11=B1 12=B2 13=B3 14=B4 15=B5 16=B6 17=B7 18=B8 19=B9\n"
    "-landscape               # landscape orientation, default portrait\n"
    "### QTextDocument options #############################################\n"
    "-font=text               # default font: family,pointSize,pixelSize,styleHint,weight,\n"
    "                         #   style,underline,strikeOut,fixedPitch,rawMode\n"
    "                         #   e.g. -font=Sans,10,-1,5,50,0,0,0,0,0\n"
    "-css=file                # the file becomes the default style sheet\n"
    "-margin=%f               # document margin\n"
    "-indentwidth=%f          # indent width\n"
    "-textwidth=%f            # text width\n"
    "-use_design_metrics=%d   # 0 or 1\n";

const char kDefaultOutput[] = "othtml2pdf_output.pdf";

// -ax: 0 to 9 are A0 to A9, 10 to 19 are B0 to B9. Qt's ids are in another order.
const QPageSize::PageSizeId kPageSizes[] = {
    QPageSize::A0, QPageSize::A1, QPageSize::A2, QPageSize::A3, QPageSize::A4,
    QPageSize::A5, QPageSize::A6, QPageSize::A7, QPageSize::A8, QPageSize::A9,
    QPageSize::B0, QPageSize::B1, QPageSize::B2, QPageSize::B3, QPageSize::B4,
    QPageSize::B5, QPageSize::B6, QPageSize::B7, QPageSize::B8, QPageSize::B9};
const int kPageSizeCount = (int)(sizeof(kPageSizes) / sizeof(kPageSizes[0]));

const float kNotSet = -1.0f;

struct Settings {
  bool fromStdin = false;
  const char* tableopt = nullptr;
  const char* imgopt = nullptr;
  // Document settings; kNotSet keeps Qt's own.
  float margin = kNotSet;
  float indent = kNotSet;
  float width = kNotSet;
  int metrics = -1;                      // design metrics: 0 off, 1 on, else not set
  float right = 0, top = 0, bottom = 0;  // page margins in mm
  bool ask = false;
  const char* font = nullptr;
  const char* css = nullptr;
  int ax = 4;
  bool landscape = false;
  bool list = false;
  const char* input = nullptr;
  std::string output = kDefaultOutput;
  bool outputGiven = false;
  const char* printer = nullptr;
};

bool isSet(float v) {
  return v > -0.01f;
}

// The text after the "=" that every option with a value has in its name.
const char* value(const char* arg) {
  return strchr(arg, '=') + 1;
}
float floatValue(const char* arg, float current) {
  return otFloatOption(arg, "=", current);
}

// Options are compared by prefix, in this order.
struct Option {
  const char* name;
  void (*apply)(Settings& s, const char* arg);
};

const Option kOptions[] = {
    {"-debug", [](Settings&, const char*) { otSetDebugPrintf(1); }},
    {"-tableopt=", [](Settings& s, const char* a) { s.tableopt = value(a); }},
    {"-imgopt=", [](Settings& s, const char* a) { s.imgopt = value(a); }},
    {"-margin=", [](Settings& s, const char* a) { s.margin = floatValue(a, s.margin); }},
    {"-indentwidth=", [](Settings& s, const char* a) { s.indent = floatValue(a, s.indent); }},
    {"-textwidth=", [](Settings& s, const char* a) { s.width = floatValue(a, s.width); }},
    {"-use_design_metrics=",
     [](Settings& s, const char* a) { s.metrics = otIntOption(a, "=", -1); }},
    {"-rm=", [](Settings& s, const char* a) { s.right = floatValue(a, s.right); }},
    {"-tm=", [](Settings& s, const char* a) { s.top = floatValue(a, s.top); }},
    {"-bm=", [](Settings& s, const char* a) { s.bottom = floatValue(a, s.bottom); }},
    {"-ask", [](Settings& s, const char*) { s.ask = true; }},
    {"-list", [](Settings& s, const char*) { s.list = true; }},
    {"-font=", [](Settings& s, const char* a) { s.font = value(a); }},
    {"-css=", [](Settings& s, const char* a) { s.css = value(a); }},
    {"-ax=", [](Settings& s, const char* a) { s.ax = otIntOption(a, "=", 4); }},
    {"-landscape", [](Settings& s, const char*) { s.landscape = true; }},
};

bool isPdfName(const char* name) {
  return strstr(name, ".pdf") != nullptr || strstr(name, ".PDF") != nullptr;
}

// Parses argv into s. Returns false when -list ends the program.
bool parseArguments(int argc, char** argv, Settings& s) {
  bool inputTaken = false;
  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (strcmp(arg, "-") == 0) {
      s.fromStdin = true;
      inputTaken = true;
      continue;
    }
    if (arg[0] == '-') {
      for (const Option& o : kOptions) {
        if (otStartsWith(arg, o.name)) {
          o.apply(s, arg);
          break;
        }
      }
      if (s.list) return false;
      continue;
    }
    if (!inputTaken) {
      s.input = arg;
      inputTaken = true;
    } else if (isPdfName(arg)) {
      s.output = arg;
      s.outputGiven = true;
    } else {
      s.printer = arg;
    }
  }
  return true;
}

// Reads the whole stream; false when reading fails.
bool readAll(FILE* fp, std::string& out) {
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), fp)) > 0)
    out.append(buf, n);
  return ferror(fp) == 0;
}

bool readFile(const char* path, std::string& out) {
  FILE* fp = fopen(path, "rb");
  if (fp == nullptr) return false;
  bool ok = readAll(fp, out);
  fclose(fp);
  return ok;
}

// The HTML's own charset (meta tag or byte-order mark) decides; without one the text is
// UTF-8, and a text that is not valid UTF-8 is taken as Latin-1, which older reports use.
QString decodeHtml(const std::string& bytes) {
  QByteArray data = QByteArray::fromRawData(bytes.data(), (int)bytes.size());
  QTextCodec* utf8 = QTextCodec::codecForName("UTF-8");
  QTextCodec* codec = QTextCodec::codecForHtml(data, utf8);
  if (codec != utf8) return codec->toUnicode(data);
  QTextCodec::ConverterState state;
  QString text = utf8->toUnicode(data.constData(), data.size(), &state);
  if (state.invalidChars == 0) return text;
  return QString::fromLatin1(data);
}

// "defaultprinter" in the printer argument stands for the system's default printer.
bool isDefaultPrinter(const char* name) {
  return name == nullptr || *name == '\0' || strstr(name, "defaultprinter") != nullptr;
}

// Hands file to lp as separate arguments (no shell, so no name can run a command) and
// returns lp's exit status: 128 + signal when it was killed, 127 when it cannot be started.
int runLp(const char* printer, const std::string& file) {
  std::vector<std::string> args{"lp"};
  if (!isDefaultPrinter(printer)) {
    args.push_back("-d");
    args.push_back(printer);
  }
  args.push_back(file);
  std::string cmd;
  std::vector<char*> argv;
  for (std::string& a : args) {
    if (!cmd.empty()) cmd += ' ';
    cmd += a;
    argv.push_back(&a[0]);
  }
  argv.push_back(nullptr);
  otDebugPrintf("cmd = %s\n", cmd.c_str());
  fflush(stdout);
  pid_t pid;
  int err = posix_spawnp(&pid, "lp", nullptr, nullptr, argv.data(), environ);
  if (err != 0) {
    printf("could not run lp: %s\n", strerror(err));
    return 127;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return 127;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 1;
}

// A PDF file: straight to the spooler, on the printer named or chosen in the dialog.
int printPdf(const Settings& s) {
  if (s.ask) {
    QPrinter printer;
    QPrintDialog dialog(&printer);
    if (dialog.exec() != QDialog::Accepted) return 0;
    std::string name = printer.printerName().toStdString();
    return runLp(name.c_str(), s.input);
  }
  return runLp(s.printer, s.input);
}

void setUpDocument(const Settings& s, QTextDocument& doc) {
  if (s.font != nullptr) {
    otDebugPrintf("defaultfont = %s\n", doc.defaultFont().toString().toUtf8().constData());
    QFont font;
    font.fromString(QString::fromLocal8Bit(s.font));
    doc.setDefaultFont(font);
    otDebugPrintf("font = %s\n", doc.defaultFont().toString().toUtf8().constData());
  }
  if (s.css != nullptr) {
    std::string style;
    if (!readFile(s.css, style)) printf("could not read file %s\n", s.css);
    otDebugPrintf("defaultstyle = %s\n", style.c_str());
    doc.setDefaultStyleSheet(decodeHtml(style));
  }
  if (isSet(s.margin)) {
    otDebugPrintf("margin = %f\n", s.margin);
    doc.setDocumentMargin(s.margin);
  }
  if (isSet(s.indent)) {
    otDebugPrintf("indentwidth = %f\n", s.indent);
    doc.setIndentWidth(s.indent);
  }
  if (isSet(s.width)) {
    otDebugPrintf("textwidth = %f\n", s.width);
    doc.setTextWidth(s.width);
  }
  if (s.metrics == 0 || s.metrics == 1) {
    otDebugPrintf("use_design_metrics = %s\n", s.metrics ? "true" : "false");
    doc.setUseDesignMetrics(s.metrics == 1);
  }
}

// A temporary PDF for the spooler, removed when the object goes.
class TempPdf {
 public:
  TempPdf() {
    const char* dir = getenv("TMPDIR");
    path_ = std::string(dir && *dir ? dir : "/tmp") + "/othtml2pdf-XXXXXX.pdf";
    int fd = mkstemps(&path_[0], 4);
    made_ = fd >= 0;
    if (made_) close(fd);
  }
  ~TempPdf() {
    if (made_) unlink(path_.c_str());
  }
  TempPdf(const TempPdf&) = delete;
  TempPdf& operator=(const TempPdf&) = delete;
  bool made() const { return made_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  bool made_ = false;
};

int convertHtml(const Settings& s) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  int ax = s.ax >= 0 && s.ax < kPageSizeCount ? s.ax : 4;
  printer.setPageSize(QPageSize(kPageSizes[ax]));
  printer.setPageOrientation(s.landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
  otDebugPrintf("margins %f %f %f %f\n", 0.0, (double)s.top, (double)s.right, (double)s.bottom);
  printer.setFullPage(false);
  printer.setPageMargins(QMarginsF(0, s.top, s.right, s.bottom), QPageLayout::Millimeter);

  // Where the PDF goes: the output file, or a printer through lp (from a temporary file
  // unless an output file was named as well).
  bool toPrinter = s.printer != nullptr;
  std::string printerName = s.printer ? s.printer : "";
  std::unique_ptr<TempPdf> temp;
  std::string pdf = s.output;
  if (s.ask) {
    printer.setOutputFileName(QString::fromLocal8Bit(pdf.c_str()));
    QPrintDialog dialog(&printer);
    if (dialog.exec() != QDialog::Accepted) return 0;
    toPrinter = printer.outputFormat() == QPrinter::NativeFormat;
    if (toPrinter) {
      printerName = printer.printerName().toStdString();
      // The paper chosen in the dialog stays when the output becomes a PDF for lp.
      QPageLayout layout = printer.pageLayout();
      printer.setOutputFormat(QPrinter::PdfFormat);
      printer.setPageLayout(layout);
    } else {
      pdf = printer.outputFileName().toLocal8Bit().toStdString();
    }
  }
  if (toPrinter && !s.outputGiven) {
    temp.reset(new TempPdf);
    if (!temp->made()) {
      printf("could not write file %s\n", temp->path().c_str());
      return 1;
    }
    pdf = temp->path();
  }

  std::string html;
  if (s.fromStdin) {
    readAll(stdin, html);
  } else if (!readFile(s.input, html)) {
    printf("could not read file %s\n", s.input);
    html.clear();
  }
  if (s.tableopt != nullptr || s.imgopt != nullptr)
    html = othtml2pdfFilter(html, s.tableopt, s.imgopt);

  QTextDocument doc;
  setUpDocument(s, doc);
  // Relative image names are found beside the report, as a browser finds them.
  if (!s.fromStdin)
    doc.setMetaInformation(QTextDocument::DocumentUrl,
                           QUrl::fromLocalFile(QString::fromLocal8Bit(s.input)).toString());
  doc.setHtml(decodeHtml(html));

  // The printer opens its file only while printing and says nothing when it cannot: a file
  // that cannot be written is found here, so that it is not reported as success.
  QFile probe(QString::fromLocal8Bit(pdf.c_str()));
  if (!probe.open(QIODevice::WriteOnly)) {
    printf("could not write file %s\n", pdf.c_str());
    return 1;
  }
  probe.close();
  printer.setOutputFileName(QString::fromLocal8Bit(pdf.c_str()));
  doc.print(&printer);

  if (toPrinter) return runLp(printerName.c_str(), pdf);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // A report is converted on machines without a display as well.
  const char* platform = getenv("QT_QPA_PLATFORM");
  const char* display = getenv("DISPLAY");
  const char* wayland = getenv("WAYLAND_DISPLAY");
  if ((platform == nullptr || *platform == '\0') && (display == nullptr || *display == '\0') &&
      (wayland == nullptr || *wayland == '\0'))
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);

  Settings s;
  if (!parseArguments(argc, argv, s)) return 0;
  if (s.input == nullptr && !s.fromStdin) {
    fputs(kHelp, stdout);
    return 0;
  }
  if (s.input != nullptr && !s.fromStdin && isPdfName(s.input)) return printPdf(s);
  return convertHtml(s);
}
