#include "dlgpastewidget.h"

#include <QPushButton>
#include <QRadioButton>

#include "studioopt.h"
#include "ui_dlgpastewidget.h"

namespace {

enum Language { Cpp, Python, Lua };

Language languageOf(const QString* fileName) {
  // A Python file is Python whatever the script option says.
  if (fileName != nullptr && fileName->contains(".py")) return Python;
  return studioOpt.script == 5 ? Lua : Cpp;
}

}  // namespace

dlgPasteWidget::dlgPasteWidget(QWidget* parent) : QDialog(parent), form(new Ui_DialogPasteWidget) {
  form->setupUi(this);
  connect(form->pushButtonInsert, &QPushButton::clicked, this, &QDialog::accept);
  connect(form->pushButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

dlgPasteWidget::~dlgPasteWidget() {
  delete form;
}

QString dlgPasteWidget::run(const char* name, QString* fileName) {
  if (name == nullptr) return QString();
  if (exec() != QDialog::Accepted) return QString();
  return text(name, fileName);
}

QString dlgPasteWidget::text(const char* name, const QString* fileName) const {
  if (name == nullptr) return QString();
  const QString n = QString::fromUtf8(name);
  const Language l = languageOf(fileName);
  if (form->radioButtonName->isChecked()) return n;
  if (form->radioButtonPrintf->isChecked()) {
    if (l == Python) return "  hx.hxSetText(self.p, self." + n + ",'text')";
    if (l == Lua) return "  hx.hxSetText(p," + n + ",\"text\")";
    return "    hxPrintf(p," + n + ",\"%d\",val);";
  }
  if (form->radioButtonTablePrintf->isChecked()) {
    if (l == Python) return "  hx.hxSetTableText(self.p, self." + n + ", x, y, 'text')";
    if (l == Lua) return "  hx.hxSetTableText(p," + n + ",x,y,\"text\")";
    return "    hxTablePrintf(p," + n + ",x,y,\"%d\",val);";
  }
  if (form->radioButtonListViewPrintf->isChecked()) {
    if (l == Python) return "  hx.hxSetListViewText(self.p, self." + n + ", path, column, 'text')";
    if (l == Lua) return "  hx.hxSetListViewText(p," + n + ",path,column,\"text\")";
    return "    hxListViewPrintf(p," + n + ",path,column,\"%d\",val);";
  }
  if (form->radioButtonEvent->isChecked()) {
    if (l == Python) return "  if id == self." + n + ":\n    return 1 # call mask 1";
    if (l == Lua) return "  if(id == " + n + ") then return 1 end -- call mask 1";
    return "  if(id == " + n + ")\n  {\n    return 1; // call mask 1\n  }";
  }
  return QString();
}
