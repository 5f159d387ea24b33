// The activity log: a list of lines in three colour classes (commands,
// replies, notes) that keeps the newest lines only, and the pane that shows
// it. Appending a batch costs one model change, however many lines it has.
#pragma once

#include "app/events.h"

#include <QAbstractListModel>
#include <QColor>
#include <QListView>
#include <QPalette>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

class QAction;

namespace qb::ui {

class CFTPLogModel : public QAbstractListModel {
    Q_OBJECT
public:
    // The most lines kept; when more arrive, the oldest go, at least
    // kTrimBatch at a time.
    static constexpr int kMaxLines = 100'000;
    static constexpr int kTrimBatch = 10'000;
    static constexpr int ClassRole = Qt::UserRole + 1;

    explicit CFTPLogModel(QObject* parent = nullptr, int maxLines = kMaxLines,
                          int trimBatch = kTrimBatch);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    void Append(const std::vector<LogLine>& lines);
    void AppendLine(LogLineClass lineClass, const QString& text);
    void Clear();

    QString Text(int row) const;
    int LineClass(int row) const;
    int MaxLines() const { return m_nMaxLines; }

    // Every line followed by a line end, in order, without colours; false
    // when the file could not be written (it is then left as it was).
    bool SaveTo(const QString& path) const;

    // The colours of the classes on `palette`'s base colour.
    void SetPalette(const QPalette& palette);
    QColor ClassColour(int lineClass) const;
    // Red commands, blue replies, notes in the text colour; a class colour
    // too close to the background to read (the same colour, or a dark
    // theme's background) becomes a lighter shade or the text colour.
    static QColor ClassColourFor(int lineClass, const QColor& background, const QColor& text);
    // WCAG contrast ratio of two colours, 1 to 21.
    static double Contrast(const QColor& a, const QColor& b);

private:
    struct Entry {
        QString text;
        std::uint8_t lineClass = LOG_NOTE;
    };
    // Makes room for `incoming` lines.
    void Trim(int incoming);

    std::deque<Entry> m_lines;
    int m_nMaxLines;
    int m_nTrimBatch;
    QColor m_colours[3];
};

class CFTPLogView : public QListView {
    Q_OBJECT
public:
    // Lines appended in one turn of the event loop at most; the rest
    // follow in the next turns, so a flood never holds the window up long.
    static constexpr int kSliceLines = 2'000;

    explicit CFTPLogView(QWidget* parent = nullptr);

    CFTPLogModel& Model() { return *m_pModel; }
    // The first line: when the log started.
    void Start();
    // Appends and shows the newest line: at once up to kSliceLines, the
    // rest in the next turns of the event loop.
    void Append(std::vector<LogLine> lines);
    // Lines waiting for a later turn.
    std::size_t PendingLines() const { return m_pending.size(); }
    // Appends everything waiting now.
    void Flush();
    void Clear();
    // Selects the last line (the FTP Log command).
    void SelectLastLine();

    // The context menu's commands and when it may open.
    void SetContextActions(QList<QAction*> actions, std::function<bool()> allowed);

    // Lines scrolled into view after an append (for tests).
    int VisibleLineCount() const;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void AppendSlice();

    CFTPLogModel* m_pModel;
    std::deque<LogLine> m_pending;
    bool m_bSliceQueued = false;
    QList<QAction*> m_contextActions;
    std::function<bool()> m_contextAllowed;
};

} // namespace qb::ui
