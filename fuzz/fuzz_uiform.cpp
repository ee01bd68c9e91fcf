// Mask files on arbitrary input: a form that reads must write back to a text that reads the
// same, and the design widgets built from it must read back without a fault.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <QByteArray>
#include <QWidget>

#include "qtfuzzapp.h"
#include "uiform.h"
#include "uiwidgets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzApplication("fuzz_uiform");
  if (size > 262144) return 0;
  UiForm form;
  QString error;
  if (uiParse(QByteArray(reinterpret_cast<const char*>(data), (int)size), &form, &error) < 0)
    return 0;
  const QByteArray text = uiFormat(form);
  UiForm again;
  if (uiParse(text, &again, &error) < 0 || !(again.root == form.root) || uiFormat(again) != text)
    abort();
  QWidget root;
  QString warnings;
  uiBuildForm(again, &root, &warnings);
  (void)uiCaptureForm(&root, again.formClass);
  return 0;
}
