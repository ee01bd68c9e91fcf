#include "hxcwidgets.h"

#include <QtDesigner/QDesignerFormEditorInterface>
#include <QtDesigner/QDesignerFormWindowInterface>
#include <QtDesigner/QDesignerPropertySheetExtension>
#include <QtDesigner/QExtensionManager>
#include <QtDesigner/private/qdesigner_utils_p.h>
#include <QPainter>
#include <QVariant>
#include <QPixmap>

QString hxcDesignerText(QWidget* w, const char* property) {
  if (QDesignerFormWindowInterface* fw = QDesignerFormWindowInterface::findFormWindow(w)) {
    auto* sheet = qt_extension<QDesignerPropertySheetExtension*>(fw->core()->extensionManager(), w);
    const int i = sheet ? sheet->indexOf(property) : -1;
    if (i >= 0) {
      // Texts read from a file come as Designer's translatable strings.
      const QVariant v = sheet->property(i);
      if (v.canConvert<qdesigner_internal::PropertySheetStringValue>())
        return v.value<qdesigner_internal::PropertySheetStringValue>().value();
      if (v.canConvert<QString>()) return v.toString();
    }
  }
  return w->property(property).toString();
}

HxcPlaceholder::HxcPlaceholder(const char* pixmap, QWidget* parent) : QLabel(parent) {
  setFrameShape(QFrame::Box);
  setAlignment(Qt::AlignCenter);
  setPixmap(QPixmap(QString::fromLatin1(pixmap)));
  setMinimumSize(16, 16);
}

void HxcPlaceholder::paintEvent(QPaintEvent* e) {
  QLabel::paintEvent(e);
  const QString caption = hxcDesignerText(this, "whatsThis");
  if (caption.isEmpty()) return;
  QPainter p(this);
  const QRect band = contentsRect().adjusted(3, 0, -3, -2);
  const QString text = fontMetrics().elidedText(caption, Qt::ElideMiddle, band.width());
  p.drawText(band, Qt::AlignHCenter | Qt::AlignBottom, text);
}
