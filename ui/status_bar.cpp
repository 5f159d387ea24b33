#include "status_bar.h"

#include <QLabel>

namespace qb::ui {

CFTPStatusBar::CFTPStatusBar(CStatusLanes& lanes, QWidget* parent)
    : QStatusBar(parent), m_lanes(lanes) {
    setObjectName(QStringLiteral("statusBar"));
    setAccessibleName(QStringLiteral("Status"));
    for (int i = 0; i < 2; ++i) {
        auto* pane = new QLabel(this);
        pane->setObjectName(QStringLiteral("statusPane%1").arg(i));
        pane->setAccessibleName(QStringLiteral("Status of connection %1").arg(i + 1));
        pane->setTextFormat(Qt::PlainText);
        pane->setMinimumWidth(0);
        pane->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        addWidget(pane, 1);
        m_panes[i] = pane;
    }
    m_panes[1]->hide();
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CFTPStatusBar::RedrawNow);
    RedrawNow();
}

void CFTPStatusBar::OnStatusChanged() {
    if (m_timer.isActive()) {
        return;
    }
    const qint64 since = m_sinceRedraw.isValid() ? m_sinceRedraw.elapsed() : kMinRedrawIntervalMs;
    if (since >= kMinRedrawIntervalMs) {
        RedrawNow();
    } else {
        m_timer.start(static_cast<int>(kMinRedrawIntervalMs - since));
    }
}

void CFTPStatusBar::RedrawNow() {
    m_timer.stop();
    m_sinceRedraw.start();
    ++m_nRedraws;
    const int mode = m_lanes.GetMode();
    // Idle and one operation: pane 0 across the bar; two: two halves.
    m_panes[0]->setText(QString::fromStdString(m_lanes.PaneText(0)));
    if (mode == 2) {
        m_panes[1]->setText(QString::fromStdString(m_lanes.PaneText(1)));
        m_panes[1]->show();
    } else {
        m_panes[1]->clear();
        m_panes[1]->hide();
    }
}

QString CFTPStatusBar::PaneText(int pane) const {
    return pane == 0 || pane == 1 ? m_panes[pane]->text() : QString();
}

bool CFTPStatusBar::IsPaneShown(int pane) const {
    return (pane == 0 || pane == 1) && !m_panes[pane]->isHidden();
}

} // namespace qb::ui
