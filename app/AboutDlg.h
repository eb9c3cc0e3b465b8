// The About window: the logo, the product name and version in bold, what the program is for,
// and the company line.
#pragma once

#include <QDialog>

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);

  // "Kelmora 0.1.0": the name and the version the program was built as.
  static QString ProductLine();
  // The window's text as mark-up.
  static QString Text();
};
