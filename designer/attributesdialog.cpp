#include "attributesdialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace HxcDesignerPlugin {

AttributesDialog::AttributesDialog(const QString& objectName, const QString& className,
                                   const QString& attributeLabel, bool bindable, QWidget* parent)
    : QDialog(parent), label_(attributeLabel) {
  setWindowTitle(tr("otkit attributes of %1").arg(objectName));
  auto* top = new QVBoxLayout(this);
  auto* about = new QLabel(tr("%1 (%2)").arg(objectName, className), this);
  about->setObjectName("about");
  top->addWidget(about);
  auto* form = new QFormLayout;
  top->addLayout(form);
  if (!attributeLabel.isEmpty()) {
    auto* row = new QHBoxLayout;
    attribute_ = new QLineEdit(this);
    attribute_->setObjectName("attribute");
    attribute_->setMinimumWidth(280);
    row->addWidget(attribute_);
    if (attributeLabel.contains("file")) {
      auto* b = new QPushButton(tr("Browse..."), this);
      b->setObjectName("browse");
      connect(b, &QPushButton::clicked, this, &AttributesDialog::browse);
      row->addWidget(b);
    }
    form->addRow(attributeLabel + ":", row);
  }
  if (bindable) {
    tag_ = new QComboBox(this);
    tag_->setObjectName("tag");
    tag_->setEditable(true);
    tag_->setInsertPolicy(QComboBox::NoInsert);
    tag_->setToolTip(tr("A tag of the project's tag table (tags.txt); empty binds nothing"));
    form->addRow(tr("Tag:"), tag_);
  }
  if (!attribute_ && !tag_) {
    auto* none = new QLabel(tr("The display server fills this widget at run time: it has "
                               "nothing to set here."),
                            this);
    none->setWordWrap(true);
    top->addWidget(none);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->setObjectName("buttons");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  top->addWidget(buttons);
}

void AttributesDialog::setTagNames(const QStringList& names) {
  if (!tag_) return;
  const QString keep = tag_->currentText();
  tag_->clear();
  tag_->addItem(QString());
  tag_->addItems(names);
  tag_->setEditText(keep);
}

void AttributesDialog::setAttribute(const QString& text) {
  if (attribute_) attribute_->setText(text);
}

void AttributesDialog::setTag(const QString& tag) {
  if (tag_) tag_->setEditText(tag);
}

QString AttributesDialog::attribute() const {
  return attribute_ ? attribute_->text().trimmed() : QString();
}

QString AttributesDialog::tag() const {
  return tag_ ? tag_->currentText().trimmed() : QString();
}

void AttributesDialog::browse() {
  const QString filter = label_.startsWith("SVG")
                             ? tr("SVG files (*.svg)")
                             : tr("Images (*.png *.jpg *.jpeg *.bmp *.gif *.xpm *.svg)");
  const QString start = attribute_->text().isEmpty() || folder_.isEmpty()
                            ? folder_
                            : QDir(folder_).absoluteFilePath(attribute_->text());
  const QString file = QFileDialog::getOpenFileName(this, label_, start, filter);
  if (file.isEmpty()) return;
  // Beside the form (the server's data folder by default) a name travels with the project.
  const QString relative = folder_.isEmpty() ? file : QDir(folder_).relativeFilePath(file);
  attribute_->setText(relative.startsWith("..") ? file : relative);
}

}  // namespace HxcDesignerPlugin
