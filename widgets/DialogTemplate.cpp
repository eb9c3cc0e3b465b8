#include "widgets/DialogTemplate.h"

#include "widgets/AdvComboBox.h"
#include "widgets/DialogUnits.h"
#include "widgets/GradientProgressCtrl.h"
#include "widgets/LedButton.h"
#include "widgets/SegmentDisplayCtrl.h"
#include "widgets/StaticGraphCtrl.h"
#include "widgets/StaticLogo.h"
#include "widgets/TabCtrl.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

namespace {

constexpr const char* kIdProperty = "kelmoraControlId";

// The owner-drawn classes of this folder are known by their class names from the start.
std::map<QString, ControlFactory> BuiltInClasses() {
  std::map<QString, ControlFactory> classes;
  classes[QStringLiteral("CLedButton")] = [](const ControlTemplate& c, QWidget* parent) -> QWidget* {
    auto* led = new CLedButton(parent);
    led->setText(c.text);
    return led;
  };
  classes[QStringLiteral("CStaticGraphCtrl")] = [](const ControlTemplate&, QWidget* parent) -> QWidget* {
    return new CStaticGraphCtrl(parent);
  };
  classes[QStringLiteral("CSegmentDisplayCtrl")] = [](const ControlTemplate& c, QWidget* parent) -> QWidget* {
    auto* display = new CSegmentDisplayCtrl(parent);
    display->setWindowTitle(c.text);  // what the text "?" shows
    return display;
  };
  classes[QStringLiteral("CStaticLogo")] = [](const ControlTemplate&, QWidget* parent) -> QWidget* {
    return new CStaticLogo(CStaticLogo::kLogoResource, parent);
  };
  return classes;
}

std::map<QString, ControlFactory>& Registry() {
  static std::map<QString, ControlFactory> registry = BuiltInClasses();
  return registry;
}

QWidget* MakeStandard(const ControlTemplate& c, QWidget* parent) {
  switch (c.kind) {
    case ControlKind::Static: {
      auto* label = new QLabel(c.text, parent);
      Qt::Alignment align = Qt::AlignLeft;
      if (c.style & ControlStyle::kCenter) align = Qt::AlignHCenter;
      if (c.style & ControlStyle::kRight) align = Qt::AlignRight;
      label->setAlignment(align | Qt::AlignVCenter);
      label->setWordWrap((c.style & ControlStyle::kWordWrap) != 0);
      if (c.style & ControlStyle::kSunken) label->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
      return label;
    }
    case ControlKind::Button:
      return new QPushButton(c.text, parent);
    case ControlKind::DefButton: {
      auto* button = new QPushButton(c.text, parent);
      button->setDefault(true);
      return button;
    }
    case ControlKind::CheckBox:
      return new QCheckBox(c.text, parent);
    case ControlKind::Radio:
      return new QRadioButton(c.text, parent);
    case ControlKind::GroupBox:
      return new QGroupBox(c.text, parent);
    case ControlKind::Edit: {
      auto* edit = new QLineEdit(c.text, parent);
      return edit;
    }
    case ControlKind::ComboBox:
      return new QComboBox(parent);
    case ControlKind::AdvCombo: {
      auto* combo = new AdvComboBox(0, parent);
      combo->SetSorted((c.style & ControlStyle::kSorted) != 0);
      return combo;
    }
    case ControlKind::Slider:
      return new QSlider((c.style & ControlStyle::kVertical) ? Qt::Vertical : Qt::Horizontal, parent);
    case ControlKind::Progress: {
      auto* bar = new CGradientProgressCtrl(parent);
      if (c.style & ControlStyle::kVertical) bar->setOrientation(Qt::Vertical);
      return bar;
    }
    case ControlKind::Tab:
      return new CTabCtrl(parent);
    case ControlKind::Frame: {
      auto* frame = new QFrame(parent);
      if (c.style & ControlStyle::kSunken) frame->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
      return frame;
    }
    case ControlKind::Custom: {
      const auto it = Registry().find(c.className);
      if (it != Registry().end() && it->second) return it->second(c, parent);
      return nullptr;
    }
  }
  return nullptr;
}

}  // namespace

void RegisterControlClass(const QString& className, ControlFactory factory) {
  Registry()[className] = std::move(factory);
}

QString TemplateText(const QString& text) {
  if (text.isEmpty()) return text;
  return QCoreApplication::translate(kTemplateContext, text.toUtf8().constData());
}

std::vector<QWidget*> BuildDialog(const DialogTemplate& tmpl, QWidget* dialog,
                                  const std::map<int, ControlFactory>& overrides) {
  std::vector<QWidget*> built;
  if (dialog == nullptr) return built;
  const DialogBaseUnits units = DialogBaseUnits::FromWidget(dialog);
  if (!tmpl.caption.isEmpty()) dialog->setWindowTitle(TemplateText(tmpl.caption));
  if (tmpl.cx > 0 && tmpl.cy > 0) dialog->resize(units.ToPixels(QSize(tmpl.cx, tmpl.cy)));

  for (ControlTemplate c : tmpl.controls) {
    c.text = TemplateText(c.text);
    QWidget* widget = nullptr;
    if (const auto it = overrides.find(c.id); it != overrides.end() && it->second) {
      widget = it->second(c, dialog);
    }
    if (widget == nullptr) widget = MakeStandard(c, dialog);
    if (widget == nullptr) {
      // An unknown class still occupies its place, so the layout and the id stay intact.
      widget = new QFrame(dialog);
    }
    if (widget->parentWidget() != dialog) widget->setParent(dialog);
    setControlId(widget, c.id);
    widget->setGeometry(units.ToPixels(QRect(c.x, c.y, c.cx, c.cy)));
    widget->setEnabled((c.style & ControlStyle::kDisabled) == 0);
    widget->setVisible((c.style & ControlStyle::kHidden) == 0);
    built.push_back(widget);
  }
  return built;
}

QWidget* control(const QWidget* parent, int id) {
  if (parent == nullptr) return nullptr;
  const QList<QWidget*> children = parent->findChildren<QWidget*>();
  for (QWidget* child : children) {
    if (controlId(child) == id && child->property(kIdProperty).isValid()) return child;
  }
  return nullptr;
}

int controlId(const QWidget* widget) {
  if (widget == nullptr) return 0;
  const QVariant id = widget->property(kIdProperty);
  return id.isValid() ? id.toInt() : 0;
}

void setControlId(QWidget* widget, int id) {
  if (widget == nullptr) return;
  widget->setProperty(kIdProperty, id);
  if (id > 0 && widget->objectName().isEmpty()) widget->setObjectName(QStringLiteral("ctl%1").arg(id));
}
