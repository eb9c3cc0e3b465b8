// Message boxes of the program's windows. Every box goes through one function so that tests
// (and the screenshot tour) can take the boxes instead of a person: a sink, when set, receives
// each box in place of showing it.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

namespace appmsg {

struct Box {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString caption;
  QString text;
  bool question = false;  // Yes and No instead of OK
  bool answer = false;    // a sink answers a question here
};

using Sink = std::function<void(QWidget* parent, Box& box)>;

// The caption of boxes that have none of their own.
inline const QString& ProgramCaption() {
  static const QString caption = QStringLiteral("Kelmora");
  return caption;
}

// Shows `box` modally over `parent` (or hands it to the sink); returns when it is closed,
// true unless a question was answered No.
bool Show(QWidget* parent, Box box);
inline bool Ask(QWidget* parent, const QString& text, const QString& caption = ProgramCaption()) {
  return Show(parent, {QMessageBox::Question, caption, text, true});
}
inline void Error(QWidget* parent, const QString& text, const QString& caption = ProgramCaption()) {
  Show(parent, {QMessageBox::Critical, caption, text});
}
inline void Warning(QWidget* parent, const QString& text, const QString& caption = ProgramCaption()) {
  Show(parent, {QMessageBox::Warning, caption, text});
}
inline void Information(QWidget* parent, const QString& text, const QString& caption = ProgramCaption()) {
  Show(parent, {QMessageBox::Information, caption, text});
}

// Replaces the sink (an empty one shows real boxes again); returns the previous one.
Sink SetSink(Sink sink);

}  // namespace appmsg
