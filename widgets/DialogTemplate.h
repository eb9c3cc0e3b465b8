// Dialog templates as tables in code, and the one builder that turns a table into widgets.
//
// A template lists its controls with their ids, kinds, texts, positions and sizes in dialog
// units and style bits. The builder converts the units with the dialog's font, creates the
// widgets as children of the dialog and stores each control's id on its widget, so code finds
// controls by id with control(parent, id), as the rest of Kelmora addresses them.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

enum class ControlKind {
  Static,      // text label
  Button,
  DefButton,   // the default push button
  CheckBox,
  Radio,
  GroupBox,
  Edit,
  ComboBox,    // drop-down list
  AdvCombo,    // AdvComboBox
  Slider,
  Progress,    // CGradientProgressCtrl
  Tab,         // CTabCtrl
  Frame,       // an empty frame (picture / placeholder)
  Custom,      // a widget class registered by name
};

// Style bits the builder understands; others are kept on the widget for its own code.
namespace ControlStyle {
constexpr std::uint32_t kCenter = 0x0001;      // static text centred
constexpr std::uint32_t kRight = 0x0002;       // static text right-aligned
constexpr std::uint32_t kSunken = 0x0004;      // sunken edge
constexpr std::uint32_t kVertical = 0x0008;    // progress bar / slider along its height
constexpr std::uint32_t kSorted = 0x0010;      // combo list sorted
constexpr std::uint32_t kWordWrap = 0x0020;    // static text wraps
constexpr std::uint32_t kHidden = 0x10000000;  // created hidden
constexpr std::uint32_t kDisabled = 0x08000000;
}  // namespace ControlStyle

// Template texts (captions and control texts) are looked up in this translation context as the
// template is built; mark them with QT_TRANSLATE_NOOP("DialogTemplate", ...) where they are
// written. Without a translation installed a text stands as written.
inline constexpr const char* kTemplateContext = "DialogTemplate";
QString TemplateText(const QString& text);

struct ControlTemplate {
  int id = -1;  // -1 for controls nobody addresses (labels)
  ControlKind kind = ControlKind::Static;
  QString text;
  int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
  std::uint32_t style = 0;
  QString className;  // for ControlKind::Custom
};

struct DialogTemplate {
  int id = 0;
  QString caption;
  int cx = 0, cy = 0;  // client size in dialog units
  std::vector<ControlTemplate> controls;
};

// Makes a widget for a control; returning null leaves the control to the builder.
using ControlFactory = std::function<QWidget*(const ControlTemplate&, QWidget* parent)>;

// Custom widget classes by name, shared by all templates.
void RegisterControlClass(const QString& className, ControlFactory factory);

// Builds `tmpl` into `dialog`: sets its client size and caption and creates every control.
// `overrides` replace the widget of individual ids (as a dialog binds a control to its own
// class). Returns the widgets in template order.
std::vector<QWidget*> BuildDialog(const DialogTemplate& tmpl, QWidget* dialog,
                                  const std::map<int, ControlFactory>& overrides = {});

// The control of `parent` (searched among all descendants) that bears `id`, null when none.
QWidget* control(const QWidget* parent, int id);
template <typename T>
T* control(const QWidget* parent, int id) {
  return qobject_cast<T*>(control(parent, id));
}
// The id stored on a widget; 0 when none.
int controlId(const QWidget* widget);
void setControlId(QWidget* widget, int id);
