#include "localfs/lfs_data.h"

#include "engine/frontend.h"
#include "localfs/lfs_texts.h"
#include "platform/questions.h"

#include <sys/stat.h>

namespace qb {

void CLFSData::Cancel() {
    {
        std::lock_guard<std::mutex> guard(m_answerLock);
        m_bCancel.store(true, std::memory_order_release);
    }
    m_eventAnswer.notify_all();
}

int CLFSData::Result() const {
    return IsCancelled() ? IDCANCEL : IDOK;
}

bool CLFSData::TakeDisplay(CLFSDisplay& shown) {
    std::lock_guard<std::mutex> guard(m_displayLock);
    m_bDisplayPending = false;
    if (IsCancelled()) {
        return false;
    }
    bool changed = false;
    for (std::size_t i = 0; i < shown.texts.size(); ++i) {
        if (shown.texts[i] != m_current.texts[i]) {
            shown.texts[i] = m_current.texts[i];
            changed = true;
        }
    }
    if (shown.percent != m_current.percent) {
        shown.percent = m_current.percent;
        changed = true;
    }
    return changed;
}

std::string CLFSData::GetMessageText() const {
    std::lock_guard<std::mutex> guard(m_answerLock);
    return m_strMessage;
}

unsigned CLFSData::GetMessageStyle() const {
    std::lock_guard<std::mutex> guard(m_answerLock);
    return m_nMessageStyle;
}

CLFSReplaceQuestion CLFSData::GetReplaceQuestion() const {
    std::lock_guard<std::mutex> guard(m_answerLock);
    return m_replace;
}

void CLFSData::SetAnswer(int answer) {
    {
        std::lock_guard<std::mutex> guard(m_answerLock);
        m_nAnswer = answer;
        m_bAnswered = true;
    }
    m_eventAnswer.notify_all();
}

bool CLFSData::IsMoveWithinOneFileSystem() const {
    if (!m_bMove) {
        return false;
    }
    struct stat source {};
    struct stat dest {};
    return ::stat(m_fileSourceFolder.m_strPath.c_str(), &source) == 0 &&
           ::stat(m_fileDestFolder.m_strPath.c_str(), &dest) == 0 && source.st_dev == dest.st_dev;
}

void CLFSData::SetCurrentTexts(const std::string& first, const std::string& second) {
    std::lock_guard<std::mutex> guard(m_displayLock);
    m_current.texts[0] = first;
    m_current.texts[1] = second;
    m_current.percent = 0;
}

void CLFSData::SetCurrentPercent(int percent) {
    std::lock_guard<std::mutex> guard(m_displayLock);
    m_current.percent = percent;
}

void CLFSData::PostDisplay(bool force) {
    if (!m_pDialog || !IsVisible()) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(m_displayLock);
        if (m_bDisplayPending) {
            return; // the dialog has yet to read the last refresh
        }
        auto now = std::chrono::steady_clock::now();
        if (!force && now - m_lastPost < m_progressInterval) {
            return;
        }
        m_lastPost = now;
        m_bDisplayPending = true;
    }
    m_pDialog->PostDisplayChanged();
}

int CLFSData::WaitForAnswer(std::unique_lock<std::mutex>& guard) {
    m_eventAnswer.wait(guard, [&] { return m_bAnswered || IsCancelled(); });
    return IsCancelled() ? IDCANCEL : m_nAnswer;
}

int CLFSData::Ask(const std::string& text, unsigned style) {
    if (!m_pDialog) {
        return IDCANCEL;
    }
    PostDisplay(true);
    {
        std::lock_guard<std::mutex> guard(m_answerLock);
        if (IsCancelled()) {
            return IDCANCEL;
        }
        m_strMessage = text;
        m_nMessageStyle = style;
        m_bAnswered = false;
    }
    m_pDialog->PostShowError();
    std::unique_lock<std::mutex> guard(m_answerLock);
    return WaitForAnswer(guard);
}

int CLFSData::AskReplace(const CLFSReplaceQuestion& question) {
    if (!m_pDialog) {
        return lfs::REPLACE_CANCEL;
    }
    PostDisplay(true);
    {
        std::lock_guard<std::mutex> guard(m_answerLock);
        if (IsCancelled()) {
            return lfs::REPLACE_CANCEL;
        }
        m_replace = question;
        m_bAnswered = false;
    }
    m_pDialog->PostAskReplace();
    std::unique_lock<std::mutex> guard(m_answerLock);
    int answer = WaitForAnswer(guard);
    return IsCancelled() ? lfs::REPLACE_CANCEL : answer;
}

void CLFSData::PostFinished() {
    if (m_pDialog) {
        m_pDialog->PostFinished();
    }
}

void CLFSData::NotifyFileDeleted(const std::string& path) const {
    if (m_pNotifier) {
        m_pNotifier->NotifyLocalFileDeleted(path);
    }
}

void CLFSData::NotifyFolderDeleted(const std::string& path) const {
    if (m_pNotifier) {
        m_pNotifier->NotifyLocalFolderDeleted(path);
    }
}

void CLFSData::NotifyFileCreated(const std::string& path) const {
    if (m_pNotifier) {
        m_pNotifier->NotifyLocalFileCreated(path);
    }
}

void CLFSData::NotifyFolderCreated(const std::string& path) const {
    if (m_pNotifier) {
        m_pNotifier->NotifyLocalFolderCreated(path);
    }
}

int AnswerShowError(CLFSData& data, IQuestions* questions) {
    int answer = IDCANCEL;
    std::string text = data.GetMessageText();
    if (!data.IsCancelled() && !text.empty()) {
        answer = questions ? questions->MessageBox(text, data.GetMessageStyle()) : IDOK;
    }
    data.SetAnswer(answer);
    return answer;
}

int AnswerAskReplace(CLFSData& data, ILFSReplaceDialog* dialog) {
    int answer = lfs::REPLACE_CANCEL;
    CLFSReplaceQuestion question = data.GetReplaceQuestion();
    if (!data.IsCancelled() && question.m_bFilled && dialog) {
        answer = dialog->AskReplace(question);
    }
    data.SetAnswer(answer);
    return answer;
}

void CLFSInlineDialog::PostDisplayChanged() {
    if (m_data.TakeDisplay(m_shown)) {
        OnDisplay(m_shown);
    }
}

} // namespace qb
