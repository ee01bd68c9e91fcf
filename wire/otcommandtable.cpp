#include "otcommandtable.h"

#include <string.h>

#include "otfilename.h"
#include "otinterpreter.h"

namespace otclient {

namespace {

const CommandInfo table[] = {
    {"startDefinition", "i", CmdStartDefinition},
    {"endDefinition", "", CmdEndDefinition},
    {"modalDialog", "ii", CmdModalDialog},
    {"terminateModalDialog", "", CmdTerminateModalDialog},
    {"sync", "i", CmdSync},
    {"@alive", "i", CmdAlive},
    {"QWidget", "ii", CmdQWidget},
    {"QPushButton", "ii", CmdQPushButton},
    {"QLabel", "ii", CmdQLabel},
    {"QLineEdit", "ii", CmdQLineEdit},
    {"QComboBox", "iiii", CmdQComboBox},
    {"QLCDNumber", "iiiii", CmdQLCDNumber},
    {"QSlider", "iiiiiii", CmdQSlider},
    {"QButtonGroup", "iiiis", CmdQButtonGroup},
    {"QRadioButton", "ii", CmdQRadioButton},
    {"QCheckBox", "ii", CmdQCheckBox},
    {"QFrame", "iiiiii", CmdQFrame},
    {"QGroupBox", "iiiis", CmdQGroupBox},
    {"QTabWidget", "ii", CmdQTabWidget},
    {"QToolBox", "ii", CmdQToolBox},
    {"QSpinBox", "iiiii", CmdQSpinBox},
    {"QDial", "iiiiii", CmdQDial},
    {"QProgressBar", "iiii", CmdQProgressBar},
    {"QMultiLineEdit", "iiii", CmdQMultiLineEdit},
    {"QTextBrowser", "ii", CmdQTextBrowser},
    {"QListView", "ii", CmdQListView},
    {"QListBox", "ii", CmdQListBox},
    {"QIconView", "ii", CmdQIconView},
    {"QTable", "iiii", CmdQTable},
    {"QDateEdit", "ii", CmdQDateEdit},
    {"QTimeEdit", "ii", CmdQTimeEdit},
    {"QDateTimeEdit", "ii", CmdQDateTimeEdit},
    {"QwtPlot", "iiii", CmdQwtPlot},
    {"QwtScale", "iii", CmdQwtScale},
    {"QwtThermo", "ii", CmdQwtThermo},
    {"QwtKnob", "ii", CmdQwtKnob},
    {"QwtCounter", "ii", CmdQwtCounter},
    {"QwtWheel", "ii", CmdQwtWheel},
    {"QwtSlider", "iii", CmdQwtSlider},
    {"QwtDial", "ii", CmdQwtDial},
    {"QwtCompass", "ii", CmdQwtCompass},
    {"QwtAnalogClock", "ii", CmdQwtAnalogClock},
    {"QVtkTclWidget", "ii", CmdQVtkTclWidget},
    {"QImage", "iis", CmdQImage},
    {"QDraw", "ii", CmdQDraw},
    {"QGL", "ii", CmdQGL},
    {"setGeometry", "iiiii", CmdSetGeometry},
    {"move", "iii", CmdMove},
    {"resize", "iii", CmdResize},
    {"show", "i", CmdShow},
    {"hide", "i", CmdHide},
    {"setEnabled", "ii", CmdSetEnabled},
    {"setText", "is", CmdSetText},
    {"setFont", "isiii", CmdSetFont},
    {"setBackgroundColor", "iiii", CmdSetBackgroundColor},
    {"setForegroundColor", "iiii", CmdSetForegroundColor},
    {"setToolTip", "is", CmdSetToolTip},
    {"setChecked", "ii", CmdSetChecked},
    {"setValue", "ii", CmdSetValue},
    {"setFloat", "if", CmdSetFloat},
    {"setRange", "ifff", CmdSetRange},
    {"displayNum", "ii", CmdDisplayNum},
    {"displayFloat", "if", CmdDisplayFloat},
    {"displayStr", "is", CmdDisplayStr},
    {"addItem", "is", CmdAddItem},
    {"clear", "i", CmdClear},
    {"addTab", "iis", CmdAddTab},
    {"setNumRows", "ii", CmdSetNumRows},
    {"setNumCols", "ii", CmdSetNumCols},
    {"setTableText", "iiis", CmdSetTableText},
    {"plotCurve", "iis", CmdPlotCurve},
    {"plotData", "iii", CmdPlotData},
    {"replot", "i", CmdReplot},
    {"statusMessage", "iiis", CmdStatusMessage},
    {"print", "i", CmdPrint},
    {"@download", "si", CmdDownload},
    {"playSound", "s", CmdPlaySound},
    {"vtkTclScript", "is", CmdVtkTclScript},
    {"vtkTclPrintf", "is", CmdVtkTclPrintf},
    {"setImage", "is", CmdSetImage},
    {"setJpegImage", "ii", CmdSetJpegImage},
    {"gbeginDraw", "i", CmdBeginDraw},
    {"hxGlBegin", "i", CmdGlBegin},
    {"glUpdate", "i", CmdGlUpdate},
    {"gsvgRead", "i", CmdSvgRead},
    {"gupdateSVG", "i", CmdSvgUpdate},
    {"gsvgPrintf", "i", CmdSvgPrintf},
    {"gsvgRecursivePrintf", "i", CmdSvgRecursivePrintf},
    {"gsvgSearchAndReplace", "i", CmdSvgSearchAndReplace},
    {"gsvgRecursiveSearchAndReplace", "i", CmdSvgRecursiveSearchAndReplace},
    {"gsvgTextPrintf", "i", CmdSvgTextPrintf},
    {"gsvgRemoveStyleOption", "i", CmdSvgRemoveStyleOption},
    {"gsvgRecursiveRemoveStyleOption", "i", CmdSvgRecursiveRemoveStyleOption},
    {"gsvgChangeStyleOption", "i", CmdSvgChangeStyleOption},
    {"gsvgRecursiveChangeStyleOption", "i", CmdSvgRecursiveChangeStyleOption},
    {"gsvgSetStyleOption", "i", CmdSvgSetStyleOption},
    {"gsvgRecursiveSetStyleOption", "i", CmdSvgRecursiveSetStyleOption},
    {"gsvgShow", "ii", CmdSvgShow},
    {"gsvgBoundsOnElement", "i", CmdSvgBoundsOnElement},
    {"gsvgMatrixForElement", "i", CmdSvgMatrixForElement},
    {"@login", "is", CmdLogin},
    {"@loggedIn", "ss", CmdLoggedIn},
    {"@loginFailed", "s", CmdLoginFailed},
};

static_assert(sizeof(table) / sizeof(table[0]) == CmdCount, "one table row per command");

}  // namespace

const CommandInfo* commands(int* count) {
  if (count) *count = CmdCount;
  return table;
}

Command lookup(const otCallLine& line) {
  // The table is small; a linear scan over names costs less than the widget update it leads to.
  for (const CommandInfo& info : table) {
    if (strcmp(info.name, line.name) == 0)
      return line.matches(info.signature) ? info.command : CmdNone;
  }
  return CmdNone;
}

bool safeFileName(const char* name) {
  return otServerFileNameRefusal(name) == nullptr;
}

}  // namespace otclient
