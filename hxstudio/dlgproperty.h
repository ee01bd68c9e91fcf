// The property dialog: geometry, sizes, names, texts, font, colours and the kind's own
// properties of one design widget, and the tag it is bound to.
#ifndef HXSTUDIO_DLGPROPERTY_H
#define HXSTUDIO_DLGPROPERTY_H

#include <QDialog>
#include <QStringList>

class QWidget;
class Ui_DialogProperty;

class dlgProperty : public QDialog {
  Q_OBJECT
 public:
  // tags: the names of the project's tags, offered for the binding (the current binding
  // stays selectable even when the table lacks it).
  explicit dlgProperty(QWidget* w, const QStringList& tags = QStringList(),
                       QWidget* parent = nullptr);
  ~dlgProperty() override;
  int run();

  Ui_DialogProperty* form;

 public slots:
  void slotUpdate();
  void slotOk();
  void slotCancel();

 signals:
  // After every apply (Update or OK), so the caller can record the change.
  void applied(QWidget* w);

 private:
  void fill();
  QWidget* widget_;
};

#endif
