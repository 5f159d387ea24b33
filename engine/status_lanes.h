// The status bar's model: two lanes of step text, byte count and percentage,
// and the operation labels around them. Setters may be called from any
// thread; a redraw is requested only when something changed and none is
// pending, so a transfer at full speed cannot flood the window.
#pragma once

#include "engine/frontend.h"

#include <atomic>
#include <mutex>
#include <string>

namespace qb {

class CStatusLanes : public IStatusLanes {
public:
    explicit CStatusLanes(INotifier* notifier = nullptr) : m_pNotifier(notifier) {}

    void BeginOperation(const std::string& label1, const std::string& label2) override;
    void EndOperation() override;
    void SetStepText(int lane, const std::string& text, bool redraw) override;
    void SetPercent(int lane, int percent, bool redraw) override;
    void SetBytes(int lane, FileSize count, bool redraw) override;
    // Every shown lane reads "Cancelling...".
    void SetCancelling();

    // The mode: 0 no operation, 1 one lane shown, 2 both.
    int GetMode() const;
    // The text of pane 0 or 1 as the status bar shows it. Taking it also
    // allows the next redraw request.
    std::string PaneText(int pane);

    struct Lane {
        std::string label;
        std::string step;
        int percent = -1;
        FileSize bytes = 0;
    };
    Lane GetLane(int lane) const;

    // " (123 Bytes)" / " (98 KBytes)" / "" and " (42%)" / "".
    static std::string BytesText(FileSize bytes);
    static std::string PercentText(int percent);

private:
    void RequestRedraw();

    INotifier* m_pNotifier;
    mutable std::mutex m_lock;
    int m_nMode = 0;
    Lane m_lanes[2];
    std::atomic<bool> m_bRedrawPending{false};
};

} // namespace qb
