// The commands a display server may send, as a table of {name, argument signature}. The
// interpreter dispatches through it and the protocol document is checked against it, so the
// two cannot drift apart. Knows nothing of Qt: the fuzz target and the tests use it alone.
#ifndef OTCOMMANDTABLE_H
#define OTCOMMANDTABLE_H

class otCallLine;

namespace otclient {

enum Command {
  CmdNone = -1,
  CmdStartDefinition,
  CmdEndDefinition,
  CmdModalDialog,
  CmdTerminateModalDialog,
  CmdSync,
  CmdAlive,
  // Constructors.
  CmdQWidget,
  CmdQPushButton,
  CmdQLabel,
  CmdQLineEdit,
  CmdQComboBox,
  CmdQLCDNumber,
  CmdQSlider,
  CmdQButtonGroup,
  CmdQRadioButton,
  CmdQCheckBox,
  CmdQFrame,
  CmdQGroupBox,
  CmdQTabWidget,
  CmdQToolBox,
  CmdQSpinBox,
  CmdQDial,
  CmdQProgressBar,
  CmdQMultiLineEdit,
  CmdQTextBrowser,
  CmdQListView,
  CmdQListBox,
  CmdQIconView,
  CmdQTable,
  CmdQDateEdit,
  CmdQTimeEdit,
  CmdQDateTimeEdit,
  CmdQwtPlot,
  CmdQwtScale,
  CmdQwtThermo,
  CmdQwtKnob,
  CmdQwtCounter,
  CmdQwtWheel,
  CmdQwtSlider,
  CmdQwtDial,
  CmdQwtCompass,
  CmdQwtAnalogClock,
  CmdQVtkTclWidget,
  CmdQImage,
  CmdQDraw,
  CmdQGL,
  // Setters.
  CmdSetGeometry,
  CmdMove,
  CmdResize,
  CmdShow,
  CmdHide,
  CmdSetEnabled,
  CmdSetText,
  CmdSetFont,
  CmdSetBackgroundColor,
  CmdSetForegroundColor,
  CmdSetToolTip,
  CmdSetChecked,
  CmdSetValue,
  CmdSetFloat,
  CmdSetRange,
  CmdDisplayNum,
  CmdDisplayFloat,
  CmdDisplayStr,
  CmdAddItem,
  CmdClear,
  CmdAddTab,
  CmdSetNumRows,
  CmdSetNumCols,
  CmdSetTableText,
  CmdPlotCurve,
  CmdPlotData,
  CmdReplot,
  CmdStatusMessage,
  CmdPrint,
  CmdDownload,
  CmdPlaySound,
  CmdVtkTclScript,
  CmdVtkTclPrintf,
  CmdSetImage,
  CmdSetJpegImage,
  CmdBeginDraw,
  CmdGlBegin,
  CmdGlUpdate,
  CmdSvgRead,
  CmdSvgUpdate,
  CmdSvgPrintf,
  CmdSvgRecursivePrintf,
  CmdSvgSearchAndReplace,
  CmdSvgRecursiveSearchAndReplace,
  CmdSvgTextPrintf,
  CmdSvgRemoveStyleOption,
  CmdSvgRecursiveRemoveStyleOption,
  CmdSvgChangeStyleOption,
  CmdSvgRecursiveChangeStyleOption,
  CmdSvgSetStyleOption,
  CmdSvgRecursiveSetStyleOption,
  CmdSvgShow,
  CmdSvgBoundsOnElement,
  CmdSvgMatrixForElement,
  // The login of a server that requires one (otloginline.h).
  CmdLogin,
  CmdLoggedIn,
  CmdLoginFailed,
  CmdCount,
  // Not in the table: what interpret() returns for a command of the widget families
  // (widgetcommands.h).
  CmdWidgetCommand
};

struct CommandInfo {
  const char* name;
  const char* signature;  // i integer, f number, s text (as otCallLine::matches reads it)
  Command command;
};

// The whole table, count entries.
const CommandInfo* commands(int* count);
// The command a parsed line stands for: CmdNone when the name is unknown or the arguments do
// not match its signature.
Command lookup(const otCallLine& line);

// Limits of what a server can make the client hold.
enum Limits {
  maxLine = 16384,                 // bytes of a line with its line feed
  maxIds = 100000,                 // ids of a mask
  maxTableSize = 100000,           // a table cell's coordinates as read (tables are smaller)
  maxPlotPoints = 1000000,         // points of a plot curve
  maxDownload = 64 * 1024 * 1024,  // bytes of a downloaded file
  maxJpeg = 16 * 1024 * 1024,      // bytes of a JPEG picture sent to an image widget
  maxGeometry = 32767              // coordinates and sizes
};

// A file name a server may write into the downloads folder: no slash, no backslash, no "..",
// not empty, not hidden, no shared library (otServerFileNameRefusal).
bool safeFileName(const char* name);

}  // namespace otclient

#endif
