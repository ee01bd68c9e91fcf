#include "dlginsertfunction.h"

#include <QPushButton>
#include <QTreeWidget>

#include "functioncatalogue.h"
#include "ui_dlginsertfunction.h"

namespace {

void addChildren(dlgInsertFunction* d, QTreeWidgetItem* parent, const CatalogueNode& n) {
  for (const CatalogueNode& c : n.children)
    addChildren(d, d->sub(parent, c.text.toUtf8().constData()), c);
}

}  // namespace

dlgInsertFunction::dlgInsertFunction(QWidget* parent)
    : QDialog(parent), form(new Ui_DialogInsertFunction) {
  form->setupUi(this);
  for (const CatalogueNode& n : functionCatalogue())
    addChildren(this, top(n.text.toUtf8().constData()), n);
}

dlgInsertFunction::~dlgInsertFunction() {
  delete form;
}

QTreeWidgetItem* dlgInsertFunction::top(const char* name) {
  auto* item = new QTreeWidgetItem(form->treeWidget);
  item->setText(0, QString::fromUtf8(name));
  return item;
}

QTreeWidgetItem* dlgInsertFunction::sub(QTreeWidgetItem* parent, const char* text) {
  auto* item = new QTreeWidgetItem(parent);
  item->setText(0, QString::fromUtf8(text));
  return item;
}

QString dlgInsertFunction::run() {
  if (exec() != QDialog::Accepted) return QString();
  // The view makes its first item current, unselected, when it takes the focus; only an item
  // the user chose (current and selected) counts, so Insert with nothing chosen inserts nothing.
  QTreeWidgetItem* item = form->treeWidget->currentItem();
  if (!item || !item->isSelected()) return QString();
  return item->text(0);
}
