#include "app/TrafficDlg.h"

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "app/Messages.h"

namespace {

QString ResultText(const TrafficFrame& frame) {
  if (frame.outgoing) return {};
  switch (frame.code) {
    case modbus_code::kSuccess: return QStringLiteral("OK");
    case modbus_code::kNoChannel: return CTrafficDlg::tr("порт недоступен");
    case static_cast<int32_t>(modbus_code::kNoAnswer):
      return frame.bytes.empty() ? CTrafficDlg::tr("нет ответа") : CTrafficDlg::tr("нет верного ответа");
    default: break;
  }
  static const QHash<int, QString> names = {
      {1, CTrafficDlg::tr("недопустимая функция")},      {2, CTrafficDlg::tr("недопустимый адрес данных")},
      {3, CTrafficDlg::tr("недопустимое значение")},     {4, CTrafficDlg::tr("сбой устройства")},
      {5, CTrafficDlg::tr("подтверждение")},             {6, CTrafficDlg::tr("устройство занято")},
      {8, CTrafficDlg::tr("ошибка чётности памяти")},    {10, CTrafficDlg::tr("шлюз: путь недоступен")},
      {11, CTrafficDlg::tr("шлюз: устройство не отвечает")}};
  const QString name = names.value(frame.code);
  return name.isEmpty() ? CTrafficDlg::tr("исключение %1").arg(frame.code)
                        : CTrafficDlg::tr("исключение %1 (%2)").arg(frame.code).arg(name);
}

QString Milliseconds(double ms) { return ms < 0 ? QStringLiteral("–") : QString::number(ms, 'f', 1); }

}  // namespace

int CTrafficModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_frames.size());
}

int CTrafficModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant CTrafficModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const TrafficFrame& f = Frame(index.row());
  const bool failed = !f.outgoing && f.code != modbus_code::kSuccess;
  if (role == Qt::ForegroundRole && (failed || (!f.crcOk && !f.bytes.empty())))
    return QColor(f.code > 0 && f.code < 128 ? QColor(0xB2, 0x6A, 0x00) : QColor(0xC6, 0x28, 0x28));
  if (role == Qt::FontRole && index.column() == kBytes) return QFontDatabase::systemFont(QFontDatabase::FixedFont);
  if (role == Qt::TextAlignmentRole && index.column() == kRoundTrip)
    return QVariant(Qt::AlignRight | Qt::AlignVCenter);
  // A long frame or result is cut off in its column; its tooltip holds all of it.
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
  if (role == Qt::ToolTipRole && index.column() != kBytes && index.column() != kResult) return {};
  switch (index.column()) {
    case kTime: return QDateTime::fromMSecsSinceEpoch(f.wallMs).toString(QStringLiteral("HH:mm:ss.zzz"));
    case kDirection: return f.outgoing ? CTrafficDlg::tr("→ запрос") : CTrafficDlg::tr("← ответ");
    case kBytes: return f.bytes.empty() ? CTrafficDlg::tr("(ничего)") : QString::fromStdString(CTrafficLog::HexBytes(f.bytes));
    case kFunction: return QString::fromStdString(CTrafficLog::FunctionText(f.Function()));
    case kCrc:
      return f.bytes.empty() ? QString() : f.crcOk ? CTrafficDlg::tr("верна") : CTrafficDlg::tr("ошибка");
    case kResult: return ResultText(f);
    case kRoundTrip: return f.roundTripMs < 0 ? QString() : Milliseconds(f.roundTripMs);
    default: return {};
  }
}

QVariant CTrafficModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QAbstractTableModel::headerData(section, orientation, role);
  switch (section) {
    case kTime: return CTrafficDlg::tr("Время");
    case kDirection: return CTrafficDlg::tr("Направление");
    case kBytes: return CTrafficDlg::tr("Байты");
    case kFunction: return CTrafficDlg::tr("Функция");
    case kCrc: return QStringLiteral("CRC");
    case kResult: return CTrafficDlg::tr("Ответ");
    case kRoundTrip: return CTrafficDlg::tr("Время ответа, мс");
    default: return {};
  }
}

void CTrafficModel::Append(std::vector<TrafficFrame> frames) {
  if (frames.empty()) return;
  const size_t capacity = CTrafficLog::kCapacity;
  if (frames.size() > capacity) frames.erase(frames.begin(), frames.end() - static_cast<std::ptrdiff_t>(capacity));
  const size_t overflow = m_frames.size() + frames.size() > capacity ? m_frames.size() + frames.size() - capacity : 0;
  if (overflow > 0) {
    beginRemoveRows({}, 0, static_cast<int>(overflow) - 1);
    m_frames.erase(m_frames.begin(), m_frames.begin() + static_cast<std::ptrdiff_t>(overflow));
    endRemoveRows();
  }
  const int first = static_cast<int>(m_frames.size());
  beginInsertRows({}, first, first + static_cast<int>(frames.size()) - 1);
  for (TrafficFrame& frame : frames) m_frames.push_back(std::move(frame));
  endInsertRows();
  m_lastSeq = m_frames.back().seq;
}

void CTrafficModel::Clear() {
  beginResetModel();
  m_frames.clear();
  endResetModel();
}

CTrafficDlg::CTrafficDlg(CTrafficLog* log, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint), m_log(log) {
  setWindowTitle(tr("Монитор обмена"));
  auto* figures = new QGroupBox(tr("Связь"));
  auto* grid = new QGridLayout(figures);
  struct Row {
    const char* name;
    QString caption;
  };
  const Row rows[] = {{"rate", tr("Транзакций в секунду:")},
                      {"use", tr("Загрузка линии:")},
                      {"trip", tr("Время ответа, мс (мин / медиана / 99 %):")},
                      {"timeouts", tr("Тайм-ауты:")},
                      {"crc", tr("Ошибки CRC:")},
                      {"exceptions", tr("Ответы-исключения:")}};
  for (int i = 0; i < 6; ++i) {
    auto* value = new QLabel;
    value->setObjectName(QString::fromLatin1(rows[i].name));
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    const int row = i % 3, column = (i / 3) * 2;
    grid->addWidget(new QLabel(rows[i].caption), row, column);
    grid->addWidget(value, row, column + 1);
  }
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);
  grid->setColumnMinimumWidth(2, fontMetrics().horizontalAdvance(tr("Ответы-исключения:")) + 12);

  m_model = new CTrafficModel(this);
  m_table = new QTableView;
  m_table->setModel(m_model);
  m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_table->setWordWrap(false);
  m_table->verticalHeader()->hide();
  m_table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  m_table->horizontalHeader()->setStretchLastSection(false);
  const QFontMetrics mono(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  const QFontMetrics metrics = fontMetrics();
  auto widthOf = [&](const QString& text) { return metrics.horizontalAdvance(text) + 16; };
  m_table->setColumnWidth(CTrafficModel::kTime, widthOf(QStringLiteral("00:00:00.000")));
  m_table->setColumnWidth(CTrafficModel::kDirection, widthOf(tr("Направление")));
  // Room for a frame of 16 bytes at first.
  const int bytesWidth = mono.horizontalAdvance(QString(47, QLatin1Char('0'))) + 16;
  m_table->setColumnWidth(CTrafficModel::kFunction, widthOf(QStringLiteral("10 Write Multiple Registers")));
  m_table->setColumnWidth(CTrafficModel::kCrc, widthOf(tr("ошибка")));
  m_table->setColumnWidth(CTrafficModel::kResult, widthOf(tr("нет верного ответа")));
  m_table->setColumnWidth(CTrafficModel::kRoundTrip, widthOf(tr("Время ответа, мс")));
  // The bytes take what the window gives beyond the other columns.
  m_table->horizontalHeader()->setSectionResizeMode(CTrafficModel::kBytes, QHeaderView::Stretch);

  m_pause = new QPushButton(tr("Пауза"));
  m_pause->setCheckable(true);
  connect(m_pause, &QPushButton::toggled, this, &CTrafficDlg::SetPaused);
  auto* copy = new QPushButton(tr("Копировать"));
  connect(copy, &QPushButton::clicked, this, &CTrafficDlg::CopySelection);
  auto* save = new QPushButton(tr("Сохранить..."));
  connect(save, &QPushButton::clicked, this, &CTrafficDlg::ChooseSaveFile);
  auto* clear = new QPushButton(tr("Очистить"));
  connect(clear, &QPushButton::clicked, this, &CTrafficDlg::ClearAll);
  auto* close = new QPushButton(tr("Закрыть"));
  connect(close, &QPushButton::clicked, this, &QDialog::close);
  for (QPushButton* button : {m_pause, copy, save, clear, close}) button->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* button : {m_pause, copy, save, clear}) buttons->addWidget(button);
  buttons->addStretch(1);
  buttons->addWidget(close);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(figures);
  layout->addWidget(m_table, 1);
  layout->addLayout(buttons);
  int tableWidth = bytesWidth + m_table->verticalScrollBar()->sizeHint().width();
  for (int c = 0; c < CTrafficModel::kColumns; ++c)
    if (c != CTrafficModel::kBytes) tableWidth += m_table->columnWidth(c);
  resize(tableWidth + 60, metrics.height() * 34);

  m_timer = new QTimer(this);
  connect(m_timer, &QTimer::timeout, this, &CTrafficDlg::Refresh);
  m_timer->start(kRefreshMs);
  Refresh();
}

void CTrafficDlg::Refresh() {
  ShowFigures(m_log->Figures());
  if (m_bPaused) return;
  QScrollBar* bar = m_table->verticalScrollBar();
  const bool atEnd = bar->value() >= bar->maximum();
  m_model->Append(m_log->FramesAfter(m_model->LastSeq()));
  if (atEnd) m_table->scrollToBottom();
}

void CTrafficDlg::ShowFigures(const TrafficFigures& f) {
  Figure("rate")->setText(QString::number(f.transactionsPerSecond, 'f', 1));
  Figure("use")->setText(tr("%1 % от %2 бит/с").arg(QString::number(100 * f.lineUse, 'f', 1)).arg(f.baudRate));
  Figure("trip")->setText(Milliseconds(f.rttMinMs) + " / " + Milliseconds(f.rttMedianMs) + " / " + Milliseconds(f.rttP99Ms));
  Figure("timeouts")->setText(QString::number(f.timeouts));
  Figure("crc")->setText(QString::number(f.crcErrors));
  Figure("exceptions")->setText(QString::number(f.exceptions));
}

QLabel* CTrafficDlg::Figure(const char* name) const { return findChild<QLabel*>(QString::fromLatin1(name)); }

void CTrafficDlg::SetPaused(bool paused) {
  m_bPaused = paused;
  if (m_pause->isChecked() != paused) m_pause->setChecked(paused);
  m_pause->setText(paused ? tr("Продолжить") : tr("Пауза"));
  if (!paused) Refresh();
}

QString CTrafficDlg::SelectedText() const {
  QList<int> rows;
  for (const QModelIndex& index : m_table->selectionModel()->selectedRows()) rows << index.row();
  if (rows.isEmpty())
    for (int row = 0; row < m_model->rowCount(); ++row) rows << row;
  std::sort(rows.begin(), rows.end());
  QString text;
  for (int row : rows) text += QString::fromStdString(CTrafficLog::FrameLine(m_model->Frame(row))) + '\n';
  return text;
}

void CTrafficDlg::CopySelection() { QApplication::clipboard()->setText(SelectedText()); }

bool CTrafficDlg::SaveTo(const QString& path, QString& why) const {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
    why = file.errorString();
    return false;
  }
  QString text;
  for (int row = 0; row < m_model->rowCount(); ++row)
    text += QString::fromStdString(CTrafficLog::FrameLine(m_model->Frame(row))) + '\n';
  const QByteArray bytes = text.toUtf8();
  if (file.write(bytes) != bytes.size() || !file.flush()) {
    why = file.errorString();
    return false;
  }
  return true;
}

void CTrafficDlg::ChooseSaveFile() {
  const QString path = QFileDialog::getSaveFileName(this, tr("Сохранить кадры"), QStringLiteral("traffic.txt"),
                                                    tr("Текст (*.txt);;Все файлы (*)"));
  if (path.isEmpty()) return;
  if (QString why; !SaveTo(path, why)) appmsg::Warning(this, tr("Кадры не сохранены: %1").arg(why), windowTitle());
}

void CTrafficDlg::ClearAll() {
  m_log->Clear();
  m_model->Clear();
  Refresh();
}
