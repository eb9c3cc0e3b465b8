#include "app/AboutDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

#include "widgets/StaticLogo.h"

#ifndef KELMORA_VERSION
#define KELMORA_VERSION "0.0.0"
#endif

QString CAboutDlg::ProductLine() { return QStringLiteral("Kelmora " KELMORA_VERSION); }

QString CAboutDlg::Text() {
  return QStringLiteral("<p><b>%1</b></p><p>%2</p><p>%3</p>")
      .arg(ProductLine().toHtmlEscaped(),
           tr("Настройка, наблюдение и обновление прошивки устройств Modbus RTU."),
           QString::fromUtf8("© 2026 Kelmora"));
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About Kelmora"));
  auto* layout = new QVBoxLayout(this);
  auto* logo = new CStaticLogo(CStaticLogo::kLogoResource, this);
  logo->setFixedHeight(fontMetrics().height() * 5);
  layout->addWidget(logo);
  auto* text = new QLabel(Text(), this);
  text->setTextFormat(Qt::RichText);
  text->setAlignment(Qt::AlignHCenter);
  text->setWordWrap(true);
  text->setObjectName(QStringLiteral("aboutText"));
  layout->addWidget(text);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);
  setMinimumWidth(fontMetrics().averageCharWidth() * 60);
}
