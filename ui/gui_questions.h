// The core's questions to the user on the window's own thread (start-up
// messages, the save of the profile at exit). A question from another
// thread is carried over to the GUI thread and waits there, unless the
// program is closing: then it gets its cancel meaning at once, so shut-down
// never waits on a dialog nobody sees.
#pragma once

#include "dialogs.h"
#include "platform/questions.h"

#include <QPointer>
#include <QWidget>
#include <functional>

namespace qb::ui {

class CGuiQuestions : public IQuestions {
public:
    // `exiting` tells whether the program is closing (may be empty).
    CGuiQuestions(IPrompter& prompter, std::function<bool()> exiting = {});

    // The window the boxes belong to (none: boxes of their own).
    void SetParentWindow(QWidget* window) { m_parent = window; }

    int MessageBox(const std::string& text, unsigned style) override;

private:
    IPrompter& m_prompter;
    std::function<bool()> m_exiting;
    QPointer<QWidget> m_parent;
};

} // namespace qb::ui
