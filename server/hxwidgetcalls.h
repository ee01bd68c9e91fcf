// The display-server library: the setters of the widget kinds: texts and alignment, items of combo
// and list boxes, tables, list and icon views, text browsers, dates and times, pixmaps and movies,
// and the calls every widget has. Included by hxserver.h, which declares PARAM_.
//
// Every call takes the connection record and the widget id first and sends one line (see
// docs/display-protocol.md, "Setters of the widget kinds"). Results: 0, or -1 with nothing sent
// for a closed connection, an id outside the mask, a null text or a bad argument (the bounds are
// given with each call). A call that is sent is not answered unless it says so; the client
// ignores it for a widget of another kind.
//
// Files the client reads (pixmaps, movies, pages) are names of its downloads folder, where
// hxDownloadFile puts them; files it writes (hxSaveAsBmp, hxSave, gWriteFile) land there too.
// Such a name is a plain one: not empty, no '/', no '\\', no "..", not hidden (a leading '.');
// the library refuses others, and the client refuses them again with its own rules.
#ifndef HXWIDGETCALLS_H
#define HXWIDGETCALLS_H

// ---- Constants ------------------------------------------------------------------------------

// Alignment flags (hxSetAlignment, hxSetTableTextAlignment): one horizontal and one vertical
// flag may be or-ed together.
enum {
  HX_ALIGN_LEFT = 0x0001,
  HX_ALIGN_RIGHT = 0x0002,
  HX_ALIGN_HCENTER = 0x0004,
  HX_ALIGN_JUSTIFY = 0x0008,
  HX_ALIGN_TOP = 0x0020,
  HX_ALIGN_BOTTOM = 0x0040,
  HX_ALIGN_VCENTER = 0x0080,
  HX_ALIGN_CENTER = 0x0084
};

// hxMovieControl.
enum {
  HX_MOVIE_PAUSE = 0,      // holds the current frame
  HX_MOVIE_RUN = 1,        // starts, or goes on after a pause
  HX_MOVIE_RESTART = 2,    // from the first frame
  HX_MOVIE_NEXT_FRAME = 3  // one frame on (the movie stays paused)
};

// hxMoveCursor: where the text cursor of a multi-line edit or text browser goes.
enum {
  HX_CURSOR_BACKWARD = 0,  // one character back
  HX_CURSOR_FORWARD = 1,
  HX_CURSOR_WORD_BACKWARD = 2,
  HX_CURSOR_WORD_FORWARD = 3,
  HX_CURSOR_UP = 4,
  HX_CURSOR_DOWN = 5,
  HX_CURSOR_LINE_START = 6,
  HX_CURSOR_LINE_END = 7,
  HX_CURSOR_HOME = 8,  // start of the text
  HX_CURSOR_END = 9,   // end of the text
  HX_CURSOR_PAGE_UP = 10,
  HX_CURSOR_PAGE_DOWN = 11
};

// hxSetTabPosition.
enum { HX_TAB_TOP = 0, HX_TAB_BOTTOM = 1, HX_TAB_LEFT = 2, HX_TAB_RIGHT = 3 };

// hxSetDateOrder: the order of day, month and year in a date edit.
enum { HX_DATE_DMY = 0, HX_DATE_MDY = 1, HX_DATE_YMD = 2, HX_DATE_YDM = 3 };

// The largest table a client shows (it cuts larger sizes to these).
#define HX_MAX_TABLE_ROWS 10000
#define HX_MAX_TABLE_COLS 1000
// hxCSV: the largest file it reads.
#define HX_MAX_CSV_BYTES (16 * 1024 * 1024)
// hxAddColumn: columns of a list view; path components of a list view item.
#define HX_MAX_LISTVIEW_COLS 100
#define HX_MAX_LISTVIEW_DEPTH 32

// ---- Every widget ---------------------------------------------------------------------------

// The tool tip shown over the widget (rich text allowed). Same as hxSetToolTip.
int hxToolTip(PARAM_* p, int id, const char* text);
// Background and text colour, 0..255 each. hxSetPaletteBackgroundColor is hxSetBackgroundColor;
// hxSetPaletteForegroundColor and hxSetFontColor are hxSetForegroundColor (the colour of the
// widget's texts).
int hxSetPaletteBackgroundColor(PARAM_* p, int id, int r, int g, int b);
int hxSetPaletteForegroundColor(PARAM_* p, int id, int r, int g, int b);
int hxSetFontColor(PARAM_* p, int id, int r, int g, int b);
// The widget's font: family, size in points (1..1000), and bold, italic, underline, strikeout
// (each 0 or not 0).
int hxSetFont(PARAM_* p, int id, const char* family, int pointsize, int bold, int italic,
              int underline, int strikeout);
// The client puts the widget's picture on its own clipboard (the operator pastes it elsewhere).
int hxCopyToClipboard(PARAM_* p, int id);
// The client saves the widget's picture as a BMP file of its downloads folder under filename
// (a plain name, see above).
int hxSaveAsBmp(PARAM_* p, int id, const char* filename);

// ---- Labels, line edits, buttons, frames ----------------------------------------------------

// Alignment of the text of a label or line edit (HX_ALIGN_*; a line edit takes the horizontal
// part). -1 for flags outside them.
int hxSetAlignment(PARAM_* p, int id, int alignment);
// Asks for the widget's text (label, line edit, push button, combo box, multi-line edit, text
// browser): the client answers with text(id,"text"), which hxPollEvent reports as TEXT_EVENT of
// id. A text that does not fit one line is not sent (the client says so on its output).
int hxText(PARAM_* p, int id);
// The frame of a label, LCD number, frame, tool box, multi-line edit, text browser, list or
// table (the widgets that are frames; a progress bar is none and refuses it): shape 0 none, 1 box,
// 2 panel, 3 win panel, 4 horizontal line, 5 vertical line, 6 styled panel; shadow 16 plain,
// 32 raised, 48 sunken; lineWidth 0..100; margin 0..1000 pixels inside the frame. A line edit
// and a group box take only whether there is a frame (shape 0: none). -1 outside these.
int hxSetStyle(PARAM_* p, int id, int shape, int shadow, int lineWidth, int margin);
// A label shows the animated picture (GIF, MNG) of a downloaded file and runs it.
int hxSetMovie(PARAM_* p, int id, const char* filename);
// Controls a label's movie: HX_MOVIE_*. -1 for another value.
int hxMovieControl(PARAM_* p, int id, int control);
// The speed of a label's movie in percent of its own (1..10000).
int hxMovieSpeed(PARAM_* p, int id, int percent);
// A push button's icon or a label's picture from a downloaded image file ("" removes it).
int hxSetPixmap(PARAM_* p, int id, const char* filename);
// Whether the operator may edit a line edit, multi-line edit, combo box or table (0: read only).
int hxSetEditable(PARAM_* p, int id, int editable);

// ---- Items: combo boxes, list boxes, icon views ---------------------------------------------

// Inserts an item before index (0 first; -1 or an index past the end appends). index >= -1.
int hxInsertItem(PARAM_* p, int id, int index, const char* text);
// Removes the item at index (0 first). index >= 0.
int hxRemoveItem(PARAM_* p, int id, int index);
// Removes the first item whose text is text.
int hxRemoveItemByName(PARAM_* p, int id, const char* text);
// Makes the item at index current (a combo box shows it, a list box selects it). index >= 0.
int hxSetCurrentItem(PARAM_* p, int id, int index);
// Replaces the text of the item at index. index >= 0.
int hxChangeItem(PARAM_* p, int id, int index, const char* text);
// Asks for the selected items of a list box, icon view or list view: the client answers with
// selection(id,0,"texts"), the texts of the selected items one per line (a list view gives their
// paths, see below), "" when none is selected; hxPollEvent reports it as SELECTION_EVENT of id.
int hxSelection(PARAM_* p, int id);

// ---- Drawing widgets ------------------------------------------------------------------------

// The zoom of a drawing widget: a factor of 0 or more applies while the zoom still follows the
// widget's size; a negative factor fixes the zoom at -factor for good. -1 for a factor that is
// not finite.
int hxSetZoomX(PARAM_* p, int id, double factor);
int hxSetZoomY(PARAM_* p, int id, double factor);
// Inside gBeginDraw ... gEndDraw: the drawing widget records the drawing lines that follow into
// a metafile (its first line "hxMetafile(w,h)", the last "gendDraw") in its downloads folder
// under filename (a plain name), up to gCloseFile or gEndDraw. A recording already running goes
// on; the client keeps at most 64 MiB of it (a larger one is dropped, and it says so).
int gWriteFile(PARAM_* p, const char* filename);
// Ends the recording of gWriteFile before gEndDraw; the metafile is then complete.
int gCloseFile(PARAM_* p);
// gLine over a ring buffer: the n points of x and y starting at index first (the oldest) and
// wrapping round to first - 1, as a trend recorder keeps them. 0 <= first < n (or n == 0);
// the points as gLine takes them.
int gBufferedLine(PARAM_* p, const float* x, const float* y, int n, int first);

// ---- Tab widgets ----------------------------------------------------------------------------

// Where a tab widget shows its tabs: HX_TAB_*.
int hxSetTabPosition(PARAM_* p, int id, int position);

// ---- Tables ---------------------------------------------------------------------------------
// Cells are addressed by column x and row y from 0 (0..HX_MAX_TABLE_COLS-1, 0..HX_MAX_TABLE_ROWS-1;
// the client ignores a cell outside its table).

// A push button in the cell; a click sends tableClicked(id,x,y,1) (TABLE_CLICKED_EVENT).
int hxSetTableButton(PARAM_* p, int id, int x, int y, const char* text);
// A check box in the cell, checked when checked is not 0; the operator's change sends
// tableText(id,x,y,"1") or tableText(id,x,y,"0") (TABLE_TEXT_EVENT).
int hxSetTableCheckBox(PARAM_* p, int id, int x, int y, int checked, const char* text);
// A combo box in the cell with the choices separated by commas ("off,on,auto"), the first one
// shown; editable not 0 lets the operator type a text. The choice sends tableText(id,x,y,"text").
int hxSetTableComboBox(PARAM_* p, int id, int x, int y, int editable, const char* choices);
// A text the operator cannot edit.
int hxSetTableLabel(PARAM_* p, int id, int x, int y, const char* text);
// Formats into one line's room, then hxSetTableText; -1 (nothing sent) when it does not fit.
int hxTablePrintf(PARAM_* p, int id, int x, int y, const char* format, ...)
    __attribute__((format(printf, 5, 6)));
// The width of a column in pixels (0..32767).
int hxSetColumnWidth(PARAM_* p, int id, int column, int width);
// Whether long cell texts wrap (not 0) or are cut.
int hxSetWordWrap(PARAM_* p, int id, int on);
// The cell's icon from a downloaded image file ("" removes it).
int hxSetTablePixmap(PARAM_* p, int id, int x, int y, const char* filename);
// Scrolls the table so that the cell is seen.
int hxEnsureCellVisible(PARAM_* p, int id, int x, int y);
// Greys a cell out (enabled 0) or makes it usable again.
int hxTableSetEnabled(PARAM_* p, int id, int x, int y, int enabled);
// Whether the operator may resize a section of the header: the row header when vertical is
// not 0, else the column header; section -1 for all of them.
int hxTableSetHeaderResizeEnabled(PARAM_* p, int id, int vertical, int enabled, int section);
// Inserts count rows before row (count columns before column); row == the row count appends.
// 1 <= count, and the client cuts the table to its bounds (HX_MAX_TABLE_ROWS, ...).
int hxInsertRows(PARAM_* p, int id, int row, int count);
int hxInsertColumns(PARAM_* p, int id, int column, int count);
// Removes a row, a column.
int hxRemoveRow(PARAM_* p, int id, int row);
int hxRemoveColumn(PARAM_* p, int id, int column);
// Alignment of the cell's text (HX_ALIGN_*).
int hxSetTableTextAlignment(PARAM_* p, int id, int x, int y, int alignment);
// The client saves the table's cells (as the operator sees them) as CSV with ',' into its
// downloads folder under filename (a plain name).
int hxSave(PARAM_* p, int id, const char* filename);
// Fetch the table's cells from the client (as the operator sees them, edits included) and write
// them into a file of the server: hxCSVdump as CSV (fields separated by delimiter, a field
// holding the delimiter, a double quote or a line break in double quotes with its quotes
// doubled), hxMysqldump as SQL, one "INSERT INTO `table` VALUES (...);" per row (table: letters,
// digits and '_', 1..64). They wait for the client's answer (PARAM_::ioTimeoutMs; events that
// come meanwhile stay queued for hxPollEvent) and use the record's clipboard for it. delimiter: a
// printable ASCII character other than '"', or '\t'. 0, or -1 (bad argument, no answer, a table
// larger than the clipboard may hold, a file that cannot be written).
int hxCSVdump(PARAM_* p, int id, const char* filename, int delimiter);
int hxMysqldump(PARAM_* p, int id, const char* filename, const char* table);
// Fills table id from a CSV file of the server (as hxCSVdump writes it, at most HX_MAX_CSV_BYTES,
// HX_MAX_TABLE_ROWS rows and HX_MAX_TABLE_COLS fields a row): sets the table's size to the file's
// rows and its longest row, then every cell. Returns the rows read, or -1 (nothing sent) for a
// file that cannot be read, is too large or malformed (a quote not closed).
int hxCSV(PARAM_* p, int id, const char* filename, int delimiter);

// ---- Multi-line edits and text browsers -----------------------------------------------------

// Moves the text cursor (HX_CURSOR_*) and shows it.
int hxMoveCursor(PARAM_* p, int id, int action);
// A text browser shows a downloaded HTML file; its links lead to other downloaded files only.
int hxSetSource(PARAM_* p, int id, const char* filename);
// Scrolls a text browser or multi-line edit so that content point (x, y) (pixels, 0 or more) is
// at its top left corner.
int hxMoveContent(PARAM_* p, int id, int x, int y);

// ---- List views -----------------------------------------------------------------------------
// An item is named by its path: the texts of its first column from the top level down, each
// preceded by '/' ("/plant/pump 1"), at most HX_MAX_LISTVIEW_DEPTH of them, none empty (a text
// of an item cannot hold '/'). Calls that set an item make the missing items of its path.

// Appends a column with a header title; width in pixels (0..32767), -1 to fit its contents.
// A list view has at most HX_MAX_LISTVIEW_COLS columns (the first exists from the start, without
// title: hxAddColumn names it first).
int hxAddColumn(PARAM_* p, int id, const char* title, int width);
// The text of column (0..HX_MAX_LISTVIEW_COLS-1) of the item at path. Column 0 renames the item:
// its path changes.
int hxSetListViewText(PARAM_* p, int id, const char* path, int column, const char* text);
// Formats into one line's room, then hxSetListViewText; -1 (nothing sent) when it does not fit.
int hxListViewPrintf(PARAM_* p, int id, const char* path, int column, const char* format, ...)
    __attribute__((format(printf, 5, 6)));
// The icon of column of the item at path from a downloaded image file ("" removes it).
int hxSetListViewPixmap(PARAM_* p, int id, const char* path, const char* filename, int column);
// Removes the item at path with every item below it.
int hxRemoveListViewItem(PARAM_* p, int id, const char* path);
// Sorts the list view by column (ascending when ascending is not 0) and lets the operator sort
// by clicking the header; column -1 stops sorting (the items stay where they are).
int hxSetSorting(PARAM_* p, int id, int column, int ascending);
// Opens the items above path and scrolls the list view so that the item is seen.
int hxListViewEnsureVisible(PARAM_* p, int id, const char* path);

// ---- Icon views -----------------------------------------------------------------------------

// Removes the first item of that text.
int hxRemoveIconViewItem(PARAM_* p, int id, const char* text);
// The item of that text gets the icon of a downloaded image file ("" for none); it is
// appended when there is none of that text.
int hxSetIconViewItem(PARAM_* p, int id, const char* text, const char* filename);

// ---- Date and time edits --------------------------------------------------------------------

// The date (year 100..9999, month 1..12, day of that month) of a date or date-time edit; its
// lowest and highest date.
int hxSetDate(PARAM_* p, int id, int year, int month, int day);
int hxSetMinDate(PARAM_* p, int id, int year, int month, int day);
int hxSetMaxDate(PARAM_* p, int id, int year, int month, int day);
// The order of day, month and year shown (HX_DATE_*).
int hxSetDateOrder(PARAM_* p, int id, int order);
// The time (hour 0..23, minute and second 0..59, msec 0..999) of a time or date-time edit; its
// lowest and highest time.
int hxSetTime(PARAM_* p, int id, int hour, int minute, int second, int msec);
int hxSetMinTime(PARAM_* p, int id, int hour, int minute, int second, int msec);
int hxSetMaxTime(PARAM_* p, int id, int hour, int minute, int second, int msec);
// The parts a time edit shows (each 0 or not 0): hours, minutes, seconds, and AM/PM instead of
// 24 hours. At least one of hour, minute, second.
int hxSetTimeEditDisplay(PARAM_* p, int id, int hour, int minute, int second, int ampm);

// ---- VTK widgets ----------------------------------------------------------------------------

// A Tcl command for the VTK widget (as hxVtkTclScript names a script file).
int hxVtkTcl(PARAM_* p, int id, const char* command);

#endif
