#include "app/Messages.h"

namespace appmsg {

namespace {

Sink& CurrentSink() {
  static Sink sink;
  return sink;
}

}  // namespace

void Show(QWidget* parent, const Box& box) {
  if (const Sink& sink = CurrentSink()) {
    sink(parent, box);
    return;
  }
  QMessageBox message(box.icon, box.caption, box.text, QMessageBox::Ok, parent);
  message.exec();
}

Sink SetSink(Sink sink) {
  Sink previous = std::move(CurrentSink());
  CurrentSink() = std::move(sink);
  return previous;
}

}  // namespace appmsg
