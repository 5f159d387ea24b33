#include "log_view.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QMenu>
#include <QSaveFile>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

namespace qb::ui {

CFTPLogModel::CFTPLogModel(QObject* parent, int maxLines, int trimBatch)
    : QAbstractListModel(parent), m_nMaxLines(std::max(1, maxLines)),
      m_nTrimBatch(std::clamp(trimBatch, 1, std::max(1, maxLines))) {
    SetPalette(QPalette());
}

int CFTPLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_lines.size());
}

QVariant CFTPLogModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= rowCount()) {
        return {};
    }
    const Entry& entry = m_lines[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return entry.text;
    case Qt::ForegroundRole:
        return ClassColour(entry.lineClass);
    case ClassRole:
        return static_cast<int>(entry.lineClass);
    default:
        return {};
    }
}

void CFTPLogModel::Trim(int incoming) {
    const int count = rowCount();
    const int excess = count + incoming - m_nMaxLines;
    if (excess <= 0) {
        return;
    }
    const int remove = std::min(count, std::max(excess, m_nTrimBatch));
    beginRemoveRows(QModelIndex(), 0, remove - 1);
    m_lines.erase(m_lines.begin(), m_lines.begin() + remove);
    endRemoveRows();
}

void CFTPLogModel::Append(const std::vector<LogLine>& lines) {
    if (lines.empty()) {
        return;
    }
    // Of a batch longer than the log, only its end can be kept.
    const std::size_t skip =
        lines.size() > static_cast<std::size_t>(m_nMaxLines) ? lines.size() - m_nMaxLines : 0;
    const int incoming = static_cast<int>(lines.size() - skip);
    Trim(incoming);
    const int first = rowCount();
    beginInsertRows(QModelIndex(), first, first + incoming - 1);
    for (std::size_t i = skip; i < lines.size(); ++i) {
        const int lineClass = std::clamp(static_cast<int>(lines[i].lineClass), 0, 2);
        m_lines.push_back(Entry{
            QString::fromUtf8(lines[i].text.data(), static_cast<qsizetype>(lines[i].text.size())),
            static_cast<std::uint8_t>(lineClass)});
    }
    endInsertRows();
}

void CFTPLogModel::AppendLine(LogLineClass lineClass, const QString& text) {
    Append({LogLine{lineClass, text.toStdString()}});
}

void CFTPLogModel::Clear() {
    beginResetModel();
    m_lines.clear();
    endResetModel();
}

QString CFTPLogModel::Text(int row) const {
    return row >= 0 && row < rowCount() ? m_lines[static_cast<std::size_t>(row)].text : QString();
}

int CFTPLogModel::LineClass(int row) const {
    return row >= 0 && row < rowCount() ? m_lines[static_cast<std::size_t>(row)].lineClass : -1;
}

bool CFTPLogModel::SaveTo(const QString& path) const {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        return false;
    }
    for (const Entry& entry : m_lines) {
        QByteArray bytes = entry.text.toUtf8();
        bytes.append('\n');
        if (file.write(bytes) != bytes.size()) {
            file.cancelWriting();
            return false;
        }
    }
    return file.commit();
}

void CFTPLogModel::SetPalette(const QPalette& palette) {
    const QColor background = palette.color(QPalette::Active, QPalette::Base);
    const QColor text = palette.color(QPalette::Active, QPalette::Text);
    for (int i = 0; i < 3; ++i) {
        m_colours[i] = ClassColourFor(i, background, text);
    }
    if (rowCount() > 0) {
        Q_EMIT dataChanged(index(0), index(rowCount() - 1), {Qt::ForegroundRole});
    }
}

QColor CFTPLogModel::ClassColour(int lineClass) const {
    return m_colours[std::clamp(lineClass, 0, 2)];
}

namespace {

double Luminance(const QColor& colour) {
    auto channel = [](double c) {
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

// Below this the colour is hard to read on its background.
constexpr double kReadableContrast = 3.0;

} // namespace

double CFTPLogModel::Contrast(const QColor& a, const QColor& b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor CFTPLogModel::ClassColourFor(int lineClass, const QColor& background, const QColor& text) {
    static const QColor base[3] = {QColor(255, 0, 0), QColor(0, 0, 255), QColor(0, 0, 0)};
    static const QColor lighter[3] = {QColor(255, 110, 110), QColor(120, 160, 255),
                                      QColor(0, 0, 0)};
    const int i = std::clamp(lineClass, 0, 2);
    if (base[i].rgb() == background.rgb()) {
        return text;
    }
    if (Contrast(base[i], background) >= kReadableContrast) {
        return base[i];
    }
    if (i != LOG_NOTE && Contrast(lighter[i], background) >= kReadableContrast) {
        return lighter[i];
    }
    return text;
}

CFTPLogView::CFTPLogView(QWidget* parent) : QListView(parent), m_pModel(new CFTPLogModel(this)) {
    setModel(m_pModel);
    setObjectName(QStringLiteral("logView"));
    setAccessibleName(QStringLiteral("FTP Log"));
    setUniformItemSizes(true);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setFocusPolicy(Qt::StrongFocus);
    m_pModel->SetPalette(palette());
}

void CFTPLogView::Start() {
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime t = now.time();
    m_pModel->AppendLine(LOG_NOTE, QString::asprintf("=== FTP Activity Log Started At "
                                                     "%02d:%02d:%02d On %04d-%02d-%02d ===",
                                                     t.hour(), t.minute(), t.second(), d.year(),
                                                     d.month(), d.day()));
}

void CFTPLogView::Append(std::vector<LogLine> lines) {
    if (lines.empty()) {
        return;
    }
    for (LogLine& line : lines) {
        m_pending.push_back(std::move(line));
    }
    // What could never be shown is not kept waiting either.
    const auto cap = static_cast<std::size_t>(m_pModel->MaxLines());
    if (m_pending.size() > cap) {
        m_pending.erase(m_pending.begin(),
                        m_pending.begin() + static_cast<std::ptrdiff_t>(m_pending.size() - cap));
    }
    AppendSlice();
}

void CFTPLogView::AppendSlice() {
    m_bSliceQueued = false;
    if (m_pending.empty()) {
        return;
    }
    const std::size_t count = std::min(m_pending.size(), static_cast<std::size_t>(kSliceLines));
    std::vector<LogLine> slice(
        std::make_move_iterator(m_pending.begin()),
        std::make_move_iterator(m_pending.begin() + static_cast<std::ptrdiff_t>(count)));
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(count));
    m_pModel->Append(slice);
    scrollToBottom();
    if (!m_pending.empty() && !m_bSliceQueued) {
        m_bSliceQueued = true;
        QMetaObject::invokeMethod(
            this, [this] { AppendSlice(); }, Qt::QueuedConnection);
    }
}

void CFTPLogView::Flush() {
    while (!m_pending.empty()) {
        AppendSlice();
    }
}

void CFTPLogView::Clear() {
    m_pending.clear();
    m_pModel->Clear();
}

void CFTPLogView::SelectLastLine() {
    const int rows = m_pModel->rowCount();
    if (rows == 0) {
        return;
    }
    const QModelIndex last = m_pModel->index(rows - 1);
    setCurrentIndex(last);
    selectionModel()->select(last, QItemSelectionModel::ClearAndSelect);
    scrollTo(last);
}

void CFTPLogView::SetContextActions(QList<QAction*> actions, std::function<bool()> allowed) {
    m_contextActions = std::move(actions);
    m_contextAllowed = std::move(allowed);
}

int CFTPLogView::VisibleLineCount() const {
    const int height = sizeHintForRow(0) > 0 ? sizeHintForRow(0) : fontMetrics().height();
    return std::max(1, viewport()->height() / std::max(1, height));
}

void CFTPLogView::contextMenuEvent(QContextMenuEvent* event) {
    if ((m_contextAllowed && !m_contextAllowed()) || m_contextActions.isEmpty()) {
        event->ignore();
        return;
    }
    QPoint where = event->globalPos();
    if (event->reason() == QContextMenuEvent::Keyboard) {
        where = viewport()->mapToGlobal(QPoint(5, 5));
    }
    QMenu menu(this);
    menu.addActions(m_contextActions);
    menu.exec(where);
    event->accept();
}

void CFTPLogView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
        m_pModel->SetPalette(palette());
    }
    QListView::changeEvent(event);
}

} // namespace qb::ui
