#include "local_dialogs.h"

#include "folder_model.h"
#include "platform/questions.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <chrono>

namespace qb::ui {

CFTPDeleteDlg::CFTPDeleteDlg(QWidget* parent, IQuestions* questions)
    : QDialog(parent), m_pQuestions(questions) {
    setObjectName(QStringLiteral("deleteDialog"));
    setWindowTitle(QStringLiteral("Deleting..."));
    setModal(true);
    m_pText = new QLabel(this);
    m_pText->setMinimumWidth(360);
    m_pText->setTextFormat(Qt::PlainText);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    connect(cancel, &QPushButton::clicked, this, &CFTPDeleteDlg::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pText);
    layout->addLayout(buttons);
}

CFTPDeleteDlg::~CFTPDeleteDlg() {
    m_op.Cancel();
    m_op.Wait();
}

int CFTPDeleteDlg::Run() {
    m_op.Start(*this);
    if (!m_op.WaitForEnd(std::chrono::milliseconds(kShowAfterMs))) {
        Data().SetVisible();
        if (Data().TakeDisplay(m_shown)) {
            m_pText->setText(CFolderTreeModel::ShownName(m_shown.texts[0]));
        }
        if (!m_bFinished) {
            exec();
        }
    }
    m_op.Wait();
    return Data().Result();
}

void CFTPDeleteDlg::PostFinished() {
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

void CFTPDeleteDlg::PostDisplayChanged() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (Data().TakeDisplay(m_shown)) {
                m_pText->setText(CFolderTreeModel::ShownName(m_shown.texts[0]));
            }
        },
        Qt::QueuedConnection);
}

void CFTPDeleteDlg::PostShowError() {
    QMetaObject::invokeMethod(
        this, [this] { AnswerShowError(Data(), m_pQuestions); }, Qt::QueuedConnection);
}

void CFTPDeleteDlg::PostAskReplace() {
    QMetaObject::invokeMethod(
        this, [this] { AnswerAskReplace(Data(), nullptr); }, Qt::QueuedConnection);
}

void CFTPDeleteDlg::reject() {
    Data().Cancel();
}

} // namespace qb::ui
