#include "app/Messages.h"

namespace appmsg {

namespace {

Sink& CurrentSink() {
  static Sink sink;
  return sink;
}

}  // namespace

bool Show(QWidget* parent, Box box) {
  if (const Sink& sink = CurrentSink()) {
    sink(parent, box);
    return !box.question || box.answer;
  }
  QMessageBox message(box.icon, box.caption, box.text, box.question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
                      parent);
  if (box.question) message.setDefaultButton(QMessageBox::No);
  return message.exec() != QMessageBox::No;
}

Sink SetSink(Sink sink) {
  Sink previous = std::move(CurrentSink());
  CurrentSink() = std::move(sink);
  return previous;
}

}  // namespace appmsg
