// The insert-function dialog: the catalogue of calls as a tree (functioncatalogue.h); run()
// returns the text of the chosen item, which the editor inserts at its cursor.
#ifndef HXSTUDIO_DLGINSERTFUNCTION_H
#define HXSTUDIO_DLGINSERTFUNCTION_H

#include <QDialog>
#include <QString>

class QTreeWidgetItem;
class Ui_DialogInsertFunction;

class dlgInsertFunction : public QDialog {
  Q_OBJECT
 public:
  explicit dlgInsertFunction(QWidget* parent = nullptr);
  ~dlgInsertFunction() override;
  // A top-level item of that text; a child item of parent.
  QTreeWidgetItem* top(const char* name);
  QTreeWidgetItem* sub(QTreeWidgetItem* parent, const char* text);
  // Shows the dialog modally: the current item's text when it is accepted with an item
  // current (a category or kind returns its own text too), else "".
  QString run();

  Ui_DialogInsertFunction* form;
};

#endif
