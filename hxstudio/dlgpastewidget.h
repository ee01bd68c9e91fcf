// The paste-widget dialog: what to insert into a mask's code for a widget's name dropped or
// pasted there (the name, a call that writes into the widget, or an event branch for it), in
// the language of the edited file.
#ifndef HXSTUDIO_DLGPASTEWIDGET_H
#define HXSTUDIO_DLGPASTEWIDGET_H

#include <QDialog>
#include <QString>

class Ui_DialogPasteWidget;

class dlgPasteWidget : public QDialog {
  Q_OBJECT
 public:
  explicit dlgPasteWidget(QWidget* parent = nullptr);
  ~dlgPasteWidget() override;
  // Shows the dialog modally. Insert: the text of the checked choice for the widget name, in
  // Python when *fileName contains ".py", else in Lua when studioOpt.script is 5, else in C++.
  // Cancel (or a null name): "". The choice stays checked for the next run.
  QString run(const char* name, QString* fileName);
  // The text run() returns for the checked choice, without showing the dialog.
  QString text(const char* name, const QString* fileName) const;

  Ui_DialogPasteWidget* form;
};

#endif
