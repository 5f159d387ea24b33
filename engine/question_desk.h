// Questions asked by connection threads (a failure to show, whether to
// replace an existing file). The asking thread records its question here and
// waits on the desk's own condition variable; the front end hears of the
// question without being waited on and answers whenever the user has
// decided. A stop or shut-down answers every pending question with what
// closing it means, so no thread can be left waiting for a dialog nobody
// sees.
#pragma once

#include "platform/types.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace qb {

using QuestionId = std::uint64_t;

struct Question {
    enum class Kind { Message, Overwrite, Certificate };

    // The answers to a certificate that did not verify (cancel: refuse).
    enum CertificateAnswer : int {
        CERT_ACCEPT_ONCE = 1,
        CERT_ACCEPT_ALWAYS = 2, // and keep its fingerprint for the site
        CERT_REFUSE = 3,
    };

    // The overwrite answers (also the "for all files" ones).
    enum OverwriteAnswer : int {
        OVERWRITE = 1,
        RESUME = 2,
        SKIP = 3, // "Ca&ncel": this file is not copied
        OVERWRITE_ALL = 4,
        RESUME_ALL = 5,
        SKIP_ALL = 6, // "&Cancel All"
    };

    QuestionId id = 0; // given by the desk
    Kind kind = Kind::Message;
    ConnectionId connection = kNoConnection;
    OperationId operation = 0;
    // A message box: its text and MessageStyle bits.
    std::string text;
    unsigned style = 0;
    // An overwrite question: the local file, the incoming remote one
    // ("host : path") and whether the resume answers are offered.
    std::string existing;
    std::string incoming;
    bool canResume = false;
    // A certificate question: `text` says what is wrong and shows the
    // certificate (subject, issuer, validity, fingerprint); `fingerprint`
    // alone, for keeping; `changed` when it differs from the kept one.
    std::string fingerprint;
    bool changed = false;

    // What closing the question without an answer means: Cancel, No, or OK
    // for a box with only OK; skipping the file for an overwrite question;
    // refusing a certificate.
    int CancelAnswer() const;
};

// Where the desk sends questions. OnQuestion is called on the asking thread
// and must return at once: either with the answer (a front end that decides
// by policy, a script) or with nothing, in which case the answer comes later
// through QuestionDesk::Answer.
class IQuestionSink {
public:
    virtual ~IQuestionSink() = default;
    virtual std::optional<int> OnQuestion(const Question& question) = 0;
    // The question is over (answered, or withdrawn by a stop): a dialog still
    // showing it can close.
    virtual void OnQuestionClosed(QuestionId /*id*/) {}
};

class QuestionDesk {
public:
    // Without a sink every question is answered at once: OK for a message,
    // skip for an existing file.
    explicit QuestionDesk(IQuestionSink* sink) : m_pSink(sink) {}
    QuestionDesk(const QuestionDesk&) = delete;
    QuestionDesk& operator=(const QuestionDesk&) = delete;

    // Asks and waits for the answer; the cancel answer once withdrawn or
    // closed.
    int Ask(Question question);
    // Gives the answer to a pending question; false when it is no longer
    // pending (withdrawn, or answered already).
    bool Answer(QuestionId id, int answer);
    // Every pending question (or those of one connection) gets its cancel
    // answer.
    void WithdrawAll();
    void WithdrawConnection(ConnectionId connection);
    // WithdrawAll, and every later question is answered at once the same way.
    void Close();
    bool IsClosed() const;
    std::size_t PendingCount() const;

private:
    IQuestionSink* const m_pSink;
    mutable std::mutex m_lock;
    std::condition_variable m_answered;
    struct Pending {
        ConnectionId connection = kNoConnection;
        std::optional<int> answer;
        bool withdrawn = false;
    };
    std::map<QuestionId, Pending> m_pending;
    QuestionId m_nLastId = 0;
    bool m_bClosed = false;
};

} // namespace qb
