// The window's message boxes and small dialogs, and the prompter through
// which the frame asks the user. Tests give the frame a prompter of their
// own, so no test waits on a modal dialog.
#pragma once

#include "engine/question_desk.h"

#include <QDateTime>
#include <QDialog>
#include <QMessageBox>
#include <QString>
#include <memory>
#include <string>
#include <vector>

class QPushButton;

namespace qb::ui {

inline const QString kAppTitle = QStringLiteral("Quillbeck");

// A message box titled "Quillbeck" with the buttons, icon and default button
// of MessageStyle bits (platform/questions.h).
std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, const QString& text, unsigned style);
// The answer (IDOK, IDYES, ...) of a box made by MakeMessageBox once it has
// closed; what closing it means when no button was clicked.
int MessageBoxAnswer(const QMessageBox& box, unsigned style);

// A server certificate that did not verify (or differs from the kept one):
// the box shows what is wrong and the certificate, and offers accepting it
// once, accepting it always, or refusing it ("Refuse" is the default and what
// closing the box means).
std::unique_ptr<QMessageBox> MakeCertificateBox(QWidget* parent, const Question& question);
// One of Question::CertificateAnswer once the box has closed.
int CertificateAnswer(const QMessageBox& box);

// "Exit Confirmation": a job is in progress; "&No" is the default.
std::unique_ptr<QMessageBox> MakeExitDialog(QWidget* parent);
// "Stop current action by disconnect from server?"; "&No" is the default.
std::unique_ptr<QMessageBox> MakeStopByDisconnectDialog(QWidget* parent);
// True when the box closed with its "&Yes" button.
bool ClickedYes(const QMessageBox& box);

// "Overwrite Confirmation": whether a file that exists may be replaced.
// Its result is one of Question::OverwriteAnswer; closing it otherwise
// counts as "Ca&ncel" (Question::SKIP).
class COverwriteDlg : public QDialog {
    Q_OBJECT
public:
    COverwriteDlg(QWidget* parent, const QString& existing, const QString& incoming,
                  bool canResume);
    QPushButton* Button(int answer) const;

private:
    std::vector<std::pair<int, QPushButton*>> m_buttons;
};

// The default name of a saved log: month, day, hour and minute, ".txt".
QString DefaultLogFileName(const QDateTime& when);

// The about box's pages.
enum class AboutPage { Product, Licence, ReleaseNotes };

// Everything the frame asks the user.
class IPrompter {
public:
    virtual ~IPrompter() = default;
    // A message box (MessageStyle bits); returns IDOK, IDYES, ...
    virtual int Message(QWidget* parent, const QString& text, unsigned style) = 0;
    virtual bool ConfirmExit(QWidget* parent) = 0;
    virtual bool ConfirmStopByDisconnect(QWidget* parent) = 0;
    // The file to save the log to; empty when cancelled.
    virtual QString AskSaveLogFile(QWidget* parent, const QString& defaultName) = 0;
    // The Go To text; empty when cancelled.
    virtual QString AskGoTo(QWidget* parent, const std::vector<std::string>& history) = 0;
    // `selectPage`: the page's text is selected (the licence on a first run).
    virtual void ShowAbout(QWidget* parent, AboutPage page, bool selectPage) = 0;
};

// The real dialogs.
class CDialogPrompter : public IPrompter {
public:
    int Message(QWidget* parent, const QString& text, unsigned style) override;
    bool ConfirmExit(QWidget* parent) override;
    bool ConfirmStopByDisconnect(QWidget* parent) override;
    QString AskSaveLogFile(QWidget* parent, const QString& defaultName) override;
    QString AskGoTo(QWidget* parent, const std::vector<std::string>& history) override;
    void ShowAbout(QWidget* parent, AboutPage page, bool selectPage) override;
};

} // namespace qb::ui
