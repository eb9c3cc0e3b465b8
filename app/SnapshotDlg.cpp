#include "app/SnapshotDlg.h"

#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/Messages.h"

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

const QColor kFailed(0xC6, 0x28, 0x28);

}  // namespace

CSnapshotDlg::CSnapshotDlg(CDeviceView* server, const QString& path, ConfigSnapshot snapshot,
                           std::vector<SnapshotDifference> differences, std::function<void()> saveToFlash,
                           QWidget* parent)
    : QDialog(parent),
      m_pServer(server),
      m_snapshot(std::move(snapshot)),
      m_differences(std::move(differences)),
      m_saveToFlash(std::move(saveToFlash)) {
  setWindowTitle(tr("Конфигурация: %1").arg(QFileInfo(path).fileName()));
  auto* header = new QLabel(tr("Файл %1 сохранён %2 с устройства %3 (профиль \"%4\").")
                                .arg(QFileInfo(path).fileName(), Q(m_snapshot.saved.substr(0, 19)).replace('T', ' '),
                                     Q(configsnapshot::IdentityText(m_snapshot)), Q(m_snapshot.profile)));
  header->setWordWrap(true);
  header->setToolTip(path);

  m_table = new QTableWidget(static_cast<int>(m_differences.size()), kColumns);
  m_table->setHorizontalHeaderLabels({tr("Настройка"), tr("В файле"), tr("В устройстве"), tr("Результат")});
  m_table->verticalHeader()->hide();
  m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_table->setWordWrap(false);
  m_table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  int applicable = 0;
  for (int row = 0; row < m_table->rowCount(); ++row) {
    const SnapshotDifference& d = m_differences[static_cast<size_t>(row)];
    m_table->setItem(row, kSetting, new QTableWidgetItem(QString::number(d.file.id) + "  " + Q(d.file.caption)));
    m_table->setItem(row, kFile, new QTableWidgetItem(Q(d.file.value)));
    m_table->setItem(row, kDevice, new QTableWidgetItem(Q(d.deviceValue)));
    auto* result = new QTableWidgetItem(d.problem.empty() ? QString() : tr("не применимо: %1").arg(Q(d.problem)));
    result->setToolTip(result->text());
    if (!d.problem.empty()) result->setForeground(kFailed);
    m_table->setItem(row, kResult, result);
    if (d.problem.empty()) ++applicable;
  }
  m_table->resizeColumnsToContents();
  m_table->horizontalHeader()->setSectionResizeMode(kResult, QHeaderView::Stretch);
  m_table->setCurrentCell(-1, -1);

  m_summary = new QLabel(m_differences.empty()
                             ? tr("Все %1 настроек файла совпадают с устройством.").arg(m_snapshot.values.size())
                             : tr("Отличаются %1 из %2 настроек.").arg(m_differences.size()).arg(m_snapshot.values.size()));
  m_apply = new QPushButton(tr("Применить"));
  m_apply->setEnabled(applicable > 0);
  m_apply->setAutoDefault(false);
  connect(m_apply, &QPushButton::clicked, this, &CSnapshotDlg::ApplyAll);
  auto* close = new QPushButton(tr("Закрыть"));
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(m_summary, 1);
  buttons->addWidget(m_apply);
  buttons->addWidget(close);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(header);
  layout->addWidget(m_table, 1);
  layout->addLayout(buttons);
  // Room for the rows (up to twelve, then it scrolls) and a result column of about 40 characters.
  const int rows = std::clamp(m_table->rowCount(), 3, 12);
  resize(std::max(560, m_table->horizontalHeader()->length() + fontMetrics().averageCharWidth() * 40),
         header->sizeHint().height() + m_table->horizontalHeader()->sizeHint().height() +
             rows * m_table->verticalHeader()->defaultSectionSize() + 6 * fontMetrics().height());
}

void CSnapshotDlg::ApplyAll() {
  m_apply->setEnabled(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  m_results = configsnapshot::Apply(*m_pServer, m_differences);
  QApplication::restoreOverrideCursor();
  int written = 0, failed = 0;
  for (int row = 0; row < static_cast<int>(m_results.size()); ++row) {
    const SnapshotApplyResult& r = m_results[static_cast<size_t>(row)];
    QTableWidgetItem* item = m_table->item(row, kResult);
    item->setText(r.ok ? tr("записано и проверено") : Q(r.text));
    item->setToolTip(item->text());
    item->setForeground(r.ok ? palette().color(QPalette::Text) : kFailed);
    (r.ok ? written : failed)++;
  }
  m_summary->setText(failed == 0 ? tr("Записано настроек: %1.").arg(written)
                                 : tr("Записано настроек: %1, не записано: %2.").arg(written).arg(failed));
  if (failed == 0 && written > 0 && m_saveToFlash &&
      appmsg::Ask(this, tr("Все настройки записаны. Сохранить конфигурацию во флэш-памяти устройства?"), windowTitle()))
    m_saveToFlash();
}
