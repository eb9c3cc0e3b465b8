// The input objects: the operator changes a device value through them.
//   CPropertyEdit    "edit"    a typed number, written 1000 ms after 2500 ms without a keystroke
//   CSliderProperty  "slider"  a trackbar with a typed alternative, written the same way
//   CPropertyBinary  "check"   a check box, written on every click
//   CPropertyCombo   "combo"   a list of the property's data texts, written on every selection
//   CButonObject     "button"  a push button that writes 1
// The operator's action marks the next query as a write of GetValue(); reads arrive through
// SetValue and never start an input cycle. A gauge entry makes every one of them read-only.
#pragma once

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QPointer>

#include "visualobject/VisualObject.h"

class QLineEdit;
class QSlider;

class CPropertyEdit : public CVisualObject {
  Q_OBJECT

 public:
  static constexpr int EditDelayTimer = 4;
  static constexpr int kEditDelayMs = 2500;
  static constexpr int kWriteDelayMs = 1000;

  CPropertyEdit();
  bool Create(IPageHost* parent, CDeviceView* server) override;
  int32_t GetValue() override;
  void SetValue(int32_t raw) override;
  void EnableObject(bool enable) override;
  void OnTimer(int id) override;

 protected:
  void DoDataExchange() override;

 private:
  int m_nEditDelayTimer = 0;
};

class CSliderProperty : public CVisualObject {
  Q_OBJECT

 public:
  static constexpr int EditDelayTimer = 4;
  static constexpr int kEditDelayMs = 2500;
  static constexpr int kWriteDelayMs = 1000;
  enum InputSource { NoInput = 0, Typing = 1, Trackbar = 2 };

  CSliderProperty();
  bool Create(IPageHost* parent, CDeviceView* server) override;
  int32_t GetValue() override;
  void SetValue(int32_t raw) override;
  void EnableObject(bool enable) override;
  void OnTimer(int id) override;
  int InputSourceNow() const { return m_nInputSource; }

 protected:
  void DoDataExchange() override;

 private:
  void OnTextChanged();
  void OnScroll();
  // Takes the typed or dragged value, shows it and schedules its write.
  void EditDelayStep();

  int m_nEditDelayTimer = 0;
  int m_nInputSource = NoInput;
};

class CPropertyBinary : public CVisualObject {
  Q_OBJECT

 public:
  CPropertyBinary();
  bool Create(IPageHost* parent, CDeviceView* server) override;
  int32_t GetValue() override;
  void SetValue(int32_t raw) override;

 protected:
  void DoDataExchange() override;

 private:
  QPointer<QCheckBox> m_check;
};

class CPropertyCombo : public CVisualObject {
  Q_OBJECT

 public:
  CPropertyCombo();
  bool Create(IPageHost* parent, CDeviceView* server) override;
  int32_t GetValue() override;
  void SetValue(int32_t raw) override;

 protected:
  void DoDataExchange() override;

 private:
  QPointer<QComboBox> m_combo;
};

class CButonObject : public CVisualObject {
  Q_OBJECT

 public:
  CButonObject();
  bool Create(IPageHost* parent, CDeviceView* server) override;
  int32_t GetValue() override { return 1; }

 protected:
  void DoDataExchange() override;

 private:
  QPointer<QAbstractButton> m_button;
};
