#include "gui_questions.h"

#include "engine/question_desk.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

namespace qb::ui {

CGuiQuestions::CGuiQuestions(IPrompter& prompter, std::function<bool()> exiting)
    : m_prompter(prompter), m_exiting(std::move(exiting)) {}

int CGuiQuestions::MessageBox(const std::string& text, unsigned style) {
    QCoreApplication* app = QCoreApplication::instance();
    const QString message = QString::fromStdString(text);
    if (app == nullptr || QThread::currentThread() == app->thread()) {
        return m_prompter.Message(m_parent.data(), message, style);
    }
    Question closed;
    closed.style = style;
    const int cancel = closed.CancelAnswer();
    auto exiting = [this] { return m_exiting && m_exiting(); };
    if (exiting()) {
        return cancel;
    }
    // The box runs on the GUI thread; this thread waits for its answer, and
    // gives up with the cancel meaning as soon as the program is closing.
    struct Pending {
        std::mutex lock;
        std::condition_variable answered;
        std::optional<int> answer;
    };
    auto pending = std::make_shared<Pending>();
    QMetaObject::invokeMethod(
        app,
        [this, pending, message, style, cancel, exiting] {
            const int answer =
                exiting() ? cancel : m_prompter.Message(m_parent.data(), message, style);
            std::lock_guard<std::mutex> guard(pending->lock);
            pending->answer = answer;
            pending->answered.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> guard(pending->lock);
    while (!pending->answer) {
        if (exiting()) {
            return cancel;
        }
        pending->answered.wait_for(guard, std::chrono::milliseconds(100));
    }
    return *pending->answer;
}

} // namespace qb::ui
