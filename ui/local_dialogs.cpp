#include "local_dialogs.h"

#include "folder_model.h"
#include "localfs/lfs_texts.h"
#include "platform/questions.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <chrono>

namespace qb::ui {

namespace {

QLabel* PathLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setMinimumWidth(360);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QHBoxLayout* CancelRow(QDialog* dialog) {
    auto* cancel = new QPushButton(QString::fromLatin1(lfs::kButtonCancel), dialog);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(cancel);
    return row;
}

QGroupBox* ReplaceGroup(QWidget* parent, const char* title, const CLFSFileStatus& status) {
    auto* group = new QGroupBox(QString::fromLatin1(title), parent);
    auto* layout = new QVBoxLayout(group);
    for (const std::string& line :
         lfs::ReplaceGroupLines(status.m_strFullName, status.m_nSize, status.m_timeModified)) {
        auto* label = new QLabel(QString::fromStdString(line), group);
        label->setTextFormat(Qt::PlainText);
        layout->addWidget(label);
    }
    return group;
}

} // namespace

// ---- Replace Confirmation ----------------------------------------------------------

CReplaceConfirmationLFSDlg::CReplaceConfirmationLFSDlg(QWidget* parent,
                                                       const CLFSReplaceQuestion& question)
    : QDialog(parent) {
    setObjectName(QStringLiteral("replaceConfirmation"));
    setWindowTitle(QString::fromLatin1(lfs::kReplaceCaption));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QString::fromLatin1(lfs::kReplacePrompt), this));
    layout->addWidget(ReplaceGroup(this, lfs::kGroupExisting, question.m_existing));
    layout->addWidget(ReplaceGroup(this, lfs::kGroupWith, question.m_with));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (const lfs::DialogButton& spec : lfs::kReplaceButtons) {
        auto* button = new QPushButton(QString::fromLatin1(spec.text), this);
        const int result = spec.result;
        connect(button, &QPushButton::clicked, this, [this, result] { done(result); });
        buttons->addWidget(button);
        if (result == lfs::REPLACE_YES) {
            button->setDefault(true);
        }
    }
    layout->addLayout(buttons);
}

// ---- The progress dialogs ----------------------------------------------------------

CFTPLFSDlg::CFTPLFSDlg(QWidget* parent, CLFSOperation::Kind kind, IQuestions* questions,
                       ILFSReplaceDialog* replace)
    : QDialog(parent), m_op(kind), m_pQuestions(questions), m_pReplace(replace) {
    setModal(true);
}

CFTPLFSDlg::~CFTPLFSDlg() {
    m_op.Cancel();
    m_op.Wait();
}

int CFTPLFSDlg::Run() {
    m_op.Start(*this);
    // The dialog shows itself once the work takes a while, or at once when
    // the worker asks something (the question waits for this thread).
    const auto showAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(kShowAfterMs);
    bool ended = false;
    while (!(ended = m_op.WaitForEnd(kPollInterval)) && !m_bAsking.load() &&
           std::chrono::steady_clock::now() < showAt) {
    }
    if (!ended) {
        Data().SetVisible();
        Prepare();
        Refresh();
        if (!m_bFinished) {
            exec();
        }
    }
    m_op.Wait();
    return Data().Result();
}

void CFTPLFSDlg::Refresh() {
    if (Data().TakeDisplay(m_shown)) {
        Show(m_shown);
    }
}

void CFTPLFSDlg::PostFinished() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_bFinished = true;
            if (isVisible()) {
                done(Data().Result() == IDOK ? Accepted : Rejected);
            }
        },
        Qt::QueuedConnection);
}

void CFTPLFSDlg::PostDisplayChanged() {
    QMetaObject::invokeMethod(
        this, [this] { Refresh(); }, Qt::QueuedConnection);
}

void CFTPLFSDlg::PostShowError() {
    m_bAsking.store(true);
    QMetaObject::invokeMethod(
        this, [this] { AnswerShowError(Data(), m_pQuestions); }, Qt::QueuedConnection);
}

void CFTPLFSDlg::PostAskReplace() {
    m_bAsking.store(true);
    QMetaObject::invokeMethod(
        this, [this] { AnswerAskReplace(Data(), m_pReplace); }, Qt::QueuedConnection);
}

void CFTPLFSDlg::reject() {
    Data().Cancel();
}

CFTPDeleteDlg::CFTPDeleteDlg(QWidget* parent, IQuestions* questions)
    : CFTPLFSDlg(parent, CLFSOperation::Kind::Delete, questions, nullptr) {
    setObjectName(QStringLiteral("deleteDialog"));
    setWindowTitle(QString::fromLatin1(lfs::kCaptionDeleting));
    m_pText = PathLabel(this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pText);
    layout->addLayout(CancelRow(this));
}

void CFTPDeleteDlg::Show(const CLFSDisplay& shown) {
    m_pText->setText(CFolderTreeModel::ShownName(shown.texts[0]));
}

CFTPCopyDlg::CFTPCopyDlg(QWidget* parent, IQuestions* questions, ILFSReplaceDialog* replace)
    : CFTPLFSDlg(parent, CLFSOperation::Kind::CopyMove, questions, replace) {
    setObjectName(QStringLiteral("copyDialog"));
    setWindowTitle(QString::fromLatin1(lfs::kCaptionCopying));
    m_pFrom = PathLabel(this);
    m_pTo = PathLabel(this);
    m_pProgress = new QProgressBar(this);
    m_pProgress->setRange(0, 100);
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QString::fromLatin1(lfs::kLabelFrom), this), 0, 0);
    grid->addWidget(m_pFrom, 0, 1);
    grid->addWidget(new QLabel(QString::fromLatin1(lfs::kLabelTo), this), 1, 0);
    grid->addWidget(m_pTo, 1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(m_pProgress);
    layout->addLayout(CancelRow(this));
}

void CFTPCopyDlg::Prepare() {
    if (Data().m_bMove) {
        setWindowTitle(QString::fromLatin1(lfs::kCaptionMoving));
    }
    m_pProgress->setVisible(!Data().IsMoveWithinOneFileSystem());
}

void CFTPCopyDlg::Show(const CLFSDisplay& shown) {
    m_pFrom->setText(CFolderTreeModel::ShownName(shown.texts[0]));
    m_pTo->setText(CFolderTreeModel::ShownName(shown.texts[1]));
    m_pProgress->setValue(shown.percent);
}

} // namespace qb::ui
