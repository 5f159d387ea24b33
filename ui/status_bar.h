// The status bar: what the connections are doing, in one pane (one
// operation) or two halves (a copy between two sites), read from the
// session's status lanes. Redraws are coalesced and spaced: however fast
// the lanes change, the bar repaints at most about 20 times a second.
#pragma once

#include "engine/status_lanes.h"

#include <QElapsedTimer>
#include <QStatusBar>
#include <QTimer>

class QLabel;

namespace qb::ui {

class CFTPStatusBar : public QStatusBar {
    Q_OBJECT
public:
    static constexpr int kMinRedrawIntervalMs = 50;

    CFTPStatusBar(CStatusLanes& lanes, QWidget* parent = nullptr);

    // The lanes changed: redraw now, or once the interval has passed.
    void OnStatusChanged();
    // Reads the lanes and repaints the panes at once.
    void RedrawNow();

    QString PaneText(int pane) const;
    bool IsPaneShown(int pane) const;
    int RedrawCount() const { return m_nRedraws; }

private:
    CStatusLanes& m_lanes;
    QLabel* m_panes[2];
    QTimer m_timer;
    QElapsedTimer m_sinceRedraw;
    int m_nRedraws = 0;
};

} // namespace qb::ui
