#include "tests/support/recorders.h"

#include "dispatch/actions.h"
#include "engine/ftp_file.h"
#include "localfs/lfs_support.h"

namespace qb::test {

void Recorder::Add(std::string event) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_events.push_back(std::move(event));
    }
    m_changed.notify_all();
}

std::vector<std::string> Recorder::Events() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_events;
}

std::size_t Recorder::Count(const std::string& prefix) const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::size_t n = 0;
    for (const auto& e : m_events) {
        if (e.compare(0, prefix.size(), prefix) == 0) {
            ++n;
        }
    }
    return n;
}

bool Recorder::WaitFor(const std::function<bool(const std::vector<std::string>&)>& pred,
                       std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, limit, [&] { return pred(m_events); });
}

bool Recorder::WaitForCount(const std::string& prefix, std::size_t count,
                            std::chrono::milliseconds limit) const {
    return WaitFor(
        [&](const std::vector<std::string>& events) {
            std::size_t n = 0;
            for (const auto& e : events) {
                if (e.compare(0, prefix.size(), prefix) == 0) {
                    ++n;
                }
            }
            return n >= count;
        },
        limit);
}

RecordingFrontEnd::RecordingFrontEnd() {
    m_frontEnd.notifier = this;
    m_frontEnd.status = this;
    m_frontEnd.log = this;
    m_frontEnd.completion = this;
    m_frontEnd.app = this;
    m_frontEnd.settings = this;
    m_frontEnd.questions = this;
    m_frontEnd.questionSink = this;
    m_frontEnd.localFiles = this;
}

void RecordingFrontEnd::ScriptOverwrite(std::vector<int> answers) {
    std::lock_guard<std::mutex> guard(m_questionLock);
    m_overwriteAnswers.assign(answers.begin(), answers.end());
}

int RecordingFrontEnd::AskOverwrite(const std::string& existing, const std::string& incoming,
                                    bool canResume) {
    int answer = Question::SKIP;
    {
        std::lock_guard<std::mutex> guard(m_questionLock);
        if (!m_overwriteAnswers.empty()) {
            answer = m_overwriteAnswers.front();
            m_overwriteAnswers.pop_front();
        }
    }
    m_events.Add("AskOverwrite " + existing + " <- " + incoming + (canResume ? " resumable" : ""));
    return answer;
}

bool RecordingFrontEnd::EnsureLocalFolder(const std::string& path) {
    return qb::EnsureLocalFolder(path, this);
}
bool RecordingFrontEnd::DeleteLocalFile(const std::string& path) {
    return qb::DeleteLocalFile(path, this);
}
bool RecordingFrontEnd::RemoveLocalFolder(const std::string& path) {
    return qb::RemoveLocalFolder(path, this);
}

void RecordingFrontEnd::ScriptAnswers(std::vector<int> answers) {
    std::lock_guard<std::mutex> guard(m_questionLock);
    m_answers.assign(answers.begin(), answers.end());
}

std::vector<std::string> RecordingFrontEnd::Questions() const {
    std::lock_guard<std::mutex> guard(m_questionLock);
    return m_questions;
}

void RecordingFrontEnd::NotifyRemoteFileDeleted(const CFTPFile& item) {
    m_events.Add("RemoteFileDeleted " + item.GetPath());
}
void RecordingFrontEnd::NotifyRemoteFolderDeleted(const CFTPFile& item) {
    m_events.Add("RemoteFolderDeleted " + item.GetPath());
}
void RecordingFrontEnd::NotifyRemoteFileCreated(const CFTPFile& item) {
    m_events.Add("RemoteFileCreated " + item.GetPath());
}
void RecordingFrontEnd::NotifyRemoteFolderCreated(const CFTPFile& item) {
    m_events.Add("RemoteFolderCreated " + item.GetPath());
}
void RecordingFrontEnd::NotifyLocalFileCreated(const std::string& path) {
    m_events.Add("LocalFileCreated " + path);
}
void RecordingFrontEnd::NotifyLocalFileDeleted(const std::string& path) {
    m_events.Add("LocalFileDeleted " + path);
}
void RecordingFrontEnd::NotifyLocalFolderCreated(const std::string& path) {
    m_events.Add("LocalFolderCreated " + path);
}
void RecordingFrontEnd::NotifyLocalFolderDeleted(const std::string& path) {
    m_events.Add("LocalFolderDeleted " + path);
}
void RecordingFrontEnd::NotifyConnectionEnded(ConnectionId) {
    m_events.Add("ConnectionEnded");
}

std::optional<int> RecordingFrontEnd::OnQuestion(const Question& question) {
    if (onQuestion) {
        onQuestion(question);
    }
    if (holdQuestions) {
        {
            std::lock_guard<std::mutex> guard(m_questionLock);
            m_questions.push_back(question.kind == Question::Kind::Message ? question.text
                                                                           : question.existing);
        }
        m_events.Add("Held " + std::to_string(question.id));
        return std::nullopt;
    }
    if (question.kind == Question::Kind::Overwrite) {
        return AskOverwrite(question.existing, question.incoming, question.canResume);
    }
    return MessageBox(question.text, question.style);
}

void RecordingFrontEnd::OnQuestionClosed(QuestionId id) {
    m_events.Add("QuestionClosed " + std::to_string(id));
}

void RecordingFrontEnd::OnOperationEnded(const OperationReport& report) {
    m_events.Add("Report " + std::to_string(report.id) +
                 (report.succeeded   ? " ok"
                  : report.cancelled ? " cancelled"
                                     : " failed") +
                 " running=" + std::to_string(report.stillRunning));
}
void RecordingFrontEnd::NotifyRenameFinished(const std::string& oldName, const std::string& newName,
                                             std::uintptr_t parent) {
    m_events.Add("RenameFinished " + oldName + " -> " + newName + " @" + std::to_string(parent));
}
void RecordingFrontEnd::BeginOperation(const std::string& host1, const std::string& host2) {
    m_events.Add("BeginOperation " + host1 + (host2.empty() ? "" : " " + host2));
}
void RecordingFrontEnd::SetStepText(int lane, const std::string& text, bool) {
    m_events.Add("step" + std::to_string(lane) + " " + text);
}
namespace {
std::string ContentText(const CFTPAction& action) {
    const CFTPFolderContent* content = action.GetFolderContent();
    if (!content) {
        return " no content";
    }
    std::string text = " content";
    for (std::size_t i = 0; i < content->GetFolders().GetSize(); ++i) {
        text += " " + content->GetFolders().GetAt(i)->GetName() + "/";
    }
    for (std::size_t i = 0; i < content->GetFiles().GetSize(); ++i) {
        const CFTPFile* f = content->GetFiles().GetAt(i);
        text += " " + f->GetName() + ":" + std::to_string(f->m_nSize);
    }
    return text;
}
} // namespace

void RecordingFrontEnd::OnConnectDone(CFTPAction& action) {
    m_events.Add("ConnectDone result=" + std::to_string(action.m_nResult) +
                 (action.Succeeded() ? " ok" : " failed") + ContentText(action));
}
void RecordingFrontEnd::OnExploreDone(CFTPAction& action) {
    m_events.Add("ExploreDone result=" + std::to_string(action.m_nResult) + ContentText(action));
}

int RecordingFrontEnd::MessageBox(const std::string& text, unsigned) {
    int answer = IDOK;
    {
        std::lock_guard<std::mutex> guard(m_questionLock);
        m_questions.push_back(text);
        if (!m_answers.empty()) {
            answer = m_answers.front();
            m_answers.pop_front();
        }
    }
    m_events.Add("MessageBox");
    return answer;
}

} // namespace qb::test
