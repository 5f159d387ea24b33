// The window benchmarks' prompter: every question is answered at once, so
// nothing waits on a dialog. `goAhead` decides the confirmations (delete,
// copy, move, replace) and the drop menu (Copy Here, or Cancel).
#pragma once

#include "dialogs.h"
#include "platform/questions.h"

#include <cstdio>
#include <string>
#include <vector>

namespace qb::ui {

class CBenchPrompter : public IPrompter {
public:
    explicit CBenchPrompter(bool goAhead, bool printMessages = false)
        : m_bGoAhead(goAhead), m_bPrint(printMessages) {}

    int Message(QWidget*, const QString& text, unsigned) override {
        if (m_bPrint) {
            std::printf("  message: %s\n", qPrintable(text));
        }
        return IDOK;
    }
    bool ConfirmExit(QWidget*) override { return true; }
    bool ConfirmStopByDisconnect(QWidget*) override { return false; }
    QString AskSaveLogFile(QWidget*, const QString&) override { return {}; }
    QString AskGoTo(QWidget*, const std::vector<std::string>&) override { return {}; }
    void ShowAbout(QWidget*, AboutPage, bool) override {}
    bool EditSite(QWidget*, SiteDialogValues&, int) override { return false; }
    bool EditSiteFolder(QWidget*, std::string&, std::string&, bool) override { return false; }
    std::string AskNewFolder(QWidget*, const NewFolderRequest&) override { return {}; }
    bool ConfirmDelete(QWidget*, const QString&) override { return m_bGoAhead; }
    int AskDropAction(QWidget*, const QPoint&) override {
        return m_bGoAhead ? ID_COPY_HERE : ID_CANCEL_DROP;
    }
    bool ConfirmMove(QWidget*, const QString&, const QString&, bool) override { return m_bGoAhead; }
    int AskLocalReplace(QWidget*, const CLFSReplaceQuestion&) override {
        return m_bGoAhead ? 6 : 2; // "&Yes" or "&Cancel"
    }

private:
    bool m_bGoAhead;
    bool m_bPrint;
};

} // namespace qb::ui
