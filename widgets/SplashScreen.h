// The splash window shown while Kelmora starts: the logo, the program's version and a
// status line.
#pragma once

#include <QWidget>
#include <cstdint>

class QLabel;
class CStaticLogo;

class CSplashView : public QWidget {
  Q_OBJECT

 public:
  explicit CSplashView(QWidget* parent = nullptr);

  // "Drennix Device Monitor v a.b.c.d" with the four parts of the product version in hex.
  static QString FormatVersionText(std::uint16_t major, std::uint16_t minor, std::uint16_t build,
                                   std::uint16_t revision);
  void SetVersionText(std::uint16_t major, std::uint16_t minor, std::uint16_t build,
                      std::uint16_t revision);
  // The version this program was built as.
  void SetVersionText();
  void SetStatusText(const QString& text);

  QLabel* StatusLabel() const;
  QLabel* VersionLabel() const;
  CStaticLogo* Logo() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // The status line's quieter text colour, from the current palette.
  void TakePaletteColors();
};

class CSplashScreen : public QWidget {
  Q_OBJECT

 public:
  explicit CSplashScreen(QWidget* parent = nullptr);
  CSplashView* View() const { return m_pView; }
  void SetStatusText(const QString& text);
  // Shows the window centred on the screen and paints it at once.
  void ShowCentered();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  CSplashView* m_pView;
};
