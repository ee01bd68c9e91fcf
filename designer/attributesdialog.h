// The dialog of the task menu's "Edit otkit attributes...": the text a widget's kind reads from
// its whatsThis (a file of the display server's data folder, or a client library's widget) and
// the tag it is bound to. A kind without one of the two shows no field for it.
#ifndef DESIGNER_ATTRIBUTESDIALOG_H
#define DESIGNER_ATTRIBUTESDIALOG_H

#include <QDialog>

class QComboBox;
class QLineEdit;

namespace HxcDesignerPlugin {

class AttributesDialog : public QDialog {
  Q_OBJECT
 public:
  // attributeLabel "" shows no attribute field; bindable false no tag field.
  AttributesDialog(const QString& objectName, const QString& className,
                   const QString& attributeLabel, bool bindable, QWidget* parent = nullptr);
  // The folder a chosen file is named relative to (the form's); "" for absolute names.
  void setFolder(const QString& folder) { folder_ = folder; }
  void setTagNames(const QStringList& names);
  void setAttribute(const QString& text);
  void setTag(const QString& tag);
  QString attribute() const;
  QString tag() const;

 private:
  void browse();
  QLineEdit* attribute_ = nullptr;
  QComboBox* tag_ = nullptr;
  QString folder_, label_;
};

}  // namespace HxcDesignerPlugin

#endif
