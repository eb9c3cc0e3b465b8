// A dark colour scheme for the Fusion style, as a dark desktop gives it: light text on dark
// grey windows and darker fields. The screenshot tour (--dark) and the readability tests run
// the windows under it; the program itself takes whatever palette the desktop hands it.
#pragma once

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

inline QPalette DarkPalette() {
  const QColor window(0x35, 0x37, 0x3A);
  const QColor base(0x23, 0x25, 0x28);
  const QColor text(0xE8, 0xE8, 0xE8);
  const QColor disabledText(0x80, 0x84, 0x88);
  QPalette p;
  p.setColor(QPalette::Window, window);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, base);
  p.setColor(QPalette::AlternateBase, window);
  p.setColor(QPalette::ToolTipBase, base);
  p.setColor(QPalette::ToolTipText, text);
  p.setColor(QPalette::PlaceholderText, disabledText);
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Button, window);
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::BrightText, QColor(0xFF, 0x6B, 0x6B));
  // The 3-D shades around the face: lighter above it, darker below it.
  p.setColor(QPalette::Light, window.lighter(160));
  p.setColor(QPalette::Midlight, window.lighter(125));
  p.setColor(QPalette::Mid, window.darker(130));
  p.setColor(QPalette::Dark, window.darker(170));
  p.setColor(QPalette::Shadow, QColor(0x10, 0x10, 0x10));
  p.setColor(QPalette::Highlight, QColor(0x3D, 0x8E, 0xD8));
  p.setColor(QPalette::HighlightedText, Qt::white);
  p.setColor(QPalette::Link, QColor(0x6C, 0xB4, 0xF5));
  p.setColor(QPalette::LinkVisited, QColor(0xB0, 0x8C, 0xF0));
  for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    p.setColor(QPalette::Disabled, role, disabledText);
  p.setColor(QPalette::Disabled, QPalette::Highlight, window.lighter(140));
  return p;
}

// Switches the application to the Fusion style with DarkPalette(); call it before any window
// is made, so every widget starts from that palette.
inline void UseDarkFusion(QApplication& application) {
  application.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  application.setPalette(DarkPalette());
}
