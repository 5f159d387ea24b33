#include "engine/status_lanes.h"

namespace qb {

void CStatusLanes::RequestRedraw() {
    if (!m_bRedrawPending.exchange(true) && m_pNotifier) {
        m_pNotifier->NotifyStatusChanged();
    }
}

void CStatusLanes::BeginOperation(const std::string& label1, const std::string& label2) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_lanes[0] = Lane{label1, {}, -1, 0};
        m_lanes[1] = Lane{label2, {}, -1, 0};
        m_nMode = label2.empty() ? 1 : 2;
    }
    RequestRedraw();
}

void CStatusLanes::EndOperation() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_nMode = 0;
        m_lanes[0] = Lane{};
        m_lanes[1] = Lane{};
    }
    RequestRedraw();
}

void CStatusLanes::SetStepText(int lane, const std::string& text, bool redraw) {
    if (lane != 1 && lane != 2) {
        return;
    }
    bool changed = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        Lane& l = m_lanes[lane - 1];
        if (l.step != text) {
            l.step = text;
            changed = true;
        }
    }
    if (changed && redraw) {
        RequestRedraw();
    }
}

void CStatusLanes::SetPercent(int lane, int percent, bool redraw) {
    if (lane != 1 && lane != 2) {
        return;
    }
    bool changed = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        Lane& l = m_lanes[lane - 1];
        changed = l.percent != percent;
        l.percent = percent;
    }
    if (changed && redraw) {
        RequestRedraw();
    }
}

void CStatusLanes::SetBytes(int lane, FileSize count, bool redraw) {
    if (lane != 1 && lane != 2) {
        return;
    }
    bool changed = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        Lane& l = m_lanes[lane - 1];
        changed = l.bytes != count;
        l.bytes = count;
    }
    if (changed && redraw) {
        RequestRedraw();
    }
}

void CStatusLanes::SetCancelling() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (int i = 0; i < m_nMode && i < 2; ++i) {
            m_lanes[i].step = "Cancelling...";
            m_lanes[i].percent = -1;
            m_lanes[i].bytes = 0;
        }
    }
    RequestRedraw();
}

int CStatusLanes::GetMode() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_nMode;
}

CStatusLanes::Lane CStatusLanes::GetLane(int lane) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return (lane == 1 || lane == 2) ? m_lanes[lane - 1] : Lane{};
}

std::string CStatusLanes::BytesText(FileSize bytes) {
    if (bytes == 0) {
        return {};
    }
    if (bytes >= 9999) {
        return " (" + std::to_string(bytes / 1024 + 1) + " KBytes)";
    }
    return " (" + std::to_string(bytes) + " Bytes)";
}

std::string CStatusLanes::PercentText(int percent) {
    if (percent == -1) {
        return {};
    }
    int shown = percent >= 100 ? 100 : (percent == 0 ? 1 : percent);
    return " (" + std::to_string(shown) + "%)";
}

std::string CStatusLanes::PaneText(int pane) {
    m_bRedrawPending = false;
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_nMode == 0) {
        return pane == 0 ? "Ready" : "";
    }
    if (pane < 0 || pane > 1 || pane >= m_nMode) {
        return {};
    }
    const Lane& l = m_lanes[pane];
    return l.label + " : " + (l.step.empty() ? "standby" : l.step) + BytesText(l.bytes) +
           PercentText(l.percent);
}

} // namespace qb
