// The image family of the core commands: pictures from the downloads folder, JPEG pictures
// sent as a block after the command, and the VTK/Tcl scripts this client cannot run.
#include "corecommands.h"

#include <stdio.h>

#include <QPointer>
#include <memory>
#include <vector>

#include "interpreter.h"
#include "otlog.h"
#include "otstreams.h"
#include "qimagewidget.h"

using namespace otclient;

namespace {

// The n bytes of JPEG that follow the command become the picture of image once they have all
// come; refused ones are taken and dropped.
void jpegPicture(otClientInterpreter& in, QImageWidget* image, int n) {
  if (n < 0 || n > maxJpeg || image == nullptr) {
    in.refuse("setJpegImage: %d bytes refused\n", n);
    if (n > 0)
      in.startStream(std::unique_ptr<otStreamConsumer>(new otBlockStream(n, nullptr, nullptr)));
    return;
  }
  auto data = std::make_shared<std::vector<unsigned char>>();
  data->reserve((size_t)n);
  QPointer<QImageWidget> to(image);
  QPointer<otClientInterpreter> self(&in);
  in.startStream(std::unique_ptr<otStreamConsumer>(new otBlockStream(
      n, [data](const char* bytes, int len) { data->insert(data->end(), bytes, bytes + len); },
      [data, to, self](bool complete) {
        if (!complete || to == nullptr) return;
        if (to->setJpegImage(data->data(), (int)data->size(), 0) < 0 && self != nullptr)
          self->refuse("setJpegImage: no picture\n");
      })));
}

void setImage(otClientInterpreter& in, QWidget* w, const otCallLine& c, Command, int id) {
  auto* image = qobject_cast<QImageWidget*>(w);
  if (image == nullptr || image->setImageFromServer(c.textArg(1)) < 0)
    in.refuse("setImage(%d): no picture shown\n", id);
}

void setJpegImage(otClientInterpreter& in, QWidget* w, const otCallLine& c, Command, int) {
  jpegPicture(in, qobject_cast<QImageWidget*>(w), argInt(c, 1));
}

void vtkTclScript(otClientInterpreter&, QWidget*, const otCallLine& c, Command, int id) {
  otLog(OT_LOG_WARNING, "otclient: widget %d: no VTK with Tcl on this client; not run: %s\n", id,
        c.textArg(1));
}

const CoreCommand kTable[] = {
    {CmdSetImage, CORE_WIDGET, setImage},
    {CmdSetJpegImage, CORE_WIDGET, setJpegImage},
    {CmdVtkTclScript, CORE_WIDGET, vtkTclScript},
    {CmdVtkTclPrintf, CORE_WIDGET, vtkTclScript},
};

}  // namespace

namespace otclient {

const CoreCommand* imageCommands(int* count) {
  *count = (int)(sizeof(kTable) / sizeof(kTable[0]));
  return kTable;
}

}  // namespace otclient
