#include "dialogs.h"

#include "about_dialog.h"
#include "item_dialogs.h"
#include "local_dialogs.h"
#include "localfs/lfs_texts.h"
#include "platform/questions.h"
#include "settings_sheet.h"
#include "site_dialogs.h"
#include "view_item.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

namespace qb::ui {

namespace {

struct ButtonSpec {
    QMessageBox::StandardButton button;
    int answer;
};

std::vector<ButtonSpec> ButtonsOf(unsigned style) {
    switch (style & 0xF) {
    case MB_OKCANCEL:
        return {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}};
    case MB_RETRYCANCEL:
        return {{QMessageBox::Retry, IDRETRY}, {QMessageBox::Cancel, IDCANCEL}};
    case MB_YESNO:
        return {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}};
    case MB_YESNOCANCEL:
        return {
            {QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
    default:
        return {{QMessageBox::Ok, IDOK}};
    }
}

QMessageBox::Icon IconOf(unsigned style) {
    switch (style & 0xF0) {
    case MB_ICONERROR:
        return QMessageBox::Critical;
    case MB_ICONQUESTION:
        return QMessageBox::Question;
    case MB_ICONWARNING:
        return QMessageBox::Warning;
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

std::unique_ptr<QMessageBox> MakeYesNo(QWidget* parent, const QString& title, const QString& text) {
    auto box = std::make_unique<QMessageBox>(parent);
    box->setWindowTitle(title);
    box->setText(text);
    box->setIcon(QMessageBox::Question);
    box->addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
    QPushButton* no = box->addButton(QStringLiteral("&No"), QMessageBox::NoRole);
    box->setDefaultButton(no);
    box->setEscapeButton(no);
    return box;
}

} // namespace

std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, const QString& text, unsigned style) {
    auto box = std::make_unique<QMessageBox>(parent);
    box->setWindowTitle(kAppTitle);
    box->setText(text);
    box->setIcon(IconOf(style));
    const std::vector<ButtonSpec> buttons = ButtonsOf(style);
    QMessageBox::StandardButtons set;
    for (const ButtonSpec& spec : buttons) {
        set |= spec.button;
    }
    box->setStandardButtons(set);
    const std::size_t def = (style & MB_DEFBUTTON2) != 0 && buttons.size() > 1 ? 1 : 0;
    box->setDefaultButton(buttons[def].button);
    return box;
}

int MessageBoxAnswer(const QMessageBox& box, unsigned style) {
    QAbstractButton* clicked = box.clickedButton();
    if (clicked != nullptr) {
        const QMessageBox::StandardButton button = box.standardButton(clicked);
        for (const ButtonSpec& spec : ButtonsOf(style)) {
            if (spec.button == button) {
                return spec.answer;
            }
        }
    }
    Question question;
    question.style = style;
    return question.CancelAnswer();
}

std::unique_ptr<QMessageBox> MakeCertificateBox(QWidget* parent, const Question& question) {
    auto box = std::make_unique<QMessageBox>(parent);
    box->setWindowTitle(question.changed ? QStringLiteral("Certificate Changed")
                                         : QStringLiteral("Unknown Certificate"));
    box->setIcon(QMessageBox::Warning);
    box->setText(QString::fromStdString(question.text));
    const struct {
        const char* text;
        int answer;
        QMessageBox::ButtonRole role;
    } buttons[] = {
        {"Accept &Once", Question::CERT_ACCEPT_ONCE, QMessageBox::AcceptRole},
        {"Accept &Always", Question::CERT_ACCEPT_ALWAYS, QMessageBox::YesRole},
        {"&Refuse", Question::CERT_REFUSE, QMessageBox::RejectRole},
    };
    for (const auto& spec : buttons) {
        QPushButton* button = box->addButton(QString::fromUtf8(spec.text), spec.role);
        button->setProperty("answer", spec.answer);
        if (spec.answer == Question::CERT_REFUSE) {
            box->setDefaultButton(button);
            box->setEscapeButton(button);
        }
    }
    return box;
}

int CertificateAnswer(const QMessageBox& box) {
    const QAbstractButton* clicked = box.clickedButton();
    const QVariant answer = clicked != nullptr ? clicked->property("answer") : QVariant();
    return answer.isValid() ? answer.toInt() : static_cast<int>(Question::CERT_REFUSE);
}

std::unique_ptr<QMessageBox> MakeExitDialog(QWidget* parent) {
    auto box = MakeYesNo(parent, QStringLiteral("Exit Confirmation"),
                         QStringLiteral("\nThere is job in progress.\n\n"
                                        "Are you sure you want to exit Quillbeck?"));
    box->setIcon(QMessageBox::Warning);
    return box;
}

std::unique_ptr<QMessageBox> MakeStopByDisconnectDialog(QWidget* parent) {
    return MakeYesNo(parent, kAppTitle,
                     QStringLiteral("Stop current action by disconnect from server?"));
}

bool ClickedYes(const QMessageBox& box) {
    QAbstractButton* clicked = box.clickedButton();
    return clicked != nullptr && box.buttonRole(clicked) == QMessageBox::YesRole;
}

COverwriteDlg::COverwriteDlg(QWidget* parent, const QString& existing, const QString& incoming,
                             bool canResume)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Overwrite Confirmation"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Would you like to overwrite"), this));
    auto addGroup = [&](const QString& title, const QString& text) {
        auto* group = new QGroupBox(title, this);
        auto* box = new QVBoxLayout(group);
        auto* line = new QLineEdit(text, group);
        line->setReadOnly(true);
        line->setCursorPosition(0);
        line->setMinimumWidth(360);
        box->addWidget(line);
        layout->addWidget(group);
    };
    addGroup(QStringLiteral("  &Existing Item  "), existing);
    addGroup(QStringLiteral("  &With  "), incoming);

    auto* grid = new QGridLayout;
    const struct {
        const char* text;
        int answer;
        int row, column;
        bool resume;
    } buttons[] = {
        {"&Overwrite", Question::OVERWRITE, 0, 0, false},
        {"&Resume", Question::RESUME, 0, 1, true},
        {"Ca&ncel", Question::SKIP, 0, 2, false},
        {"Overwrite &All", Question::OVERWRITE_ALL, 1, 0, false},
        {"Resume A&ll", Question::RESUME_ALL, 1, 1, true},
        {"&Cancel All", Question::SKIP_ALL, 1, 2, false},
    };
    for (const auto& spec : buttons) {
        auto* button = new QPushButton(QString::fromUtf8(spec.text), this);
        button->setEnabled(!spec.resume || canResume);
        button->setAutoDefault(false);
        const int answer = spec.answer;
        connect(button, &QPushButton::clicked, this, [this, answer] { done(answer); });
        grid->addWidget(button, spec.row, spec.column);
        m_buttons.emplace_back(answer, button);
    }
    Button(Question::OVERWRITE)->setDefault(true);
    layout->addLayout(grid);
}

QPushButton* COverwriteDlg::Button(int answer) const {
    for (const auto& [value, button] : m_buttons) {
        if (value == answer) {
            return button;
        }
    }
    return nullptr;
}

QString DefaultLogFileName(const QDateTime& when) {
    const QDate date = when.date();
    const QTime time = when.time();
    return QString::asprintf("%02d%02d%02d%02d.txt", date.month(), date.day(), time.hour(),
                             time.minute());
}

int CDialogPrompter::Message(QWidget* parent, const QString& text, unsigned style) {
    auto box = MakeMessageBox(parent, text, style);
    box->exec();
    return MessageBoxAnswer(*box, style);
}

bool CDialogPrompter::ConfirmExit(QWidget* parent) {
    auto box = MakeExitDialog(parent);
    box->exec();
    return ClickedYes(*box);
}

bool CDialogPrompter::ConfirmStopByDisconnect(QWidget* parent) {
    auto box = MakeStopByDisconnectDialog(parent);
    box->exec();
    return ClickedYes(*box);
}

QString CDialogPrompter::AskSaveLogFile(QWidget* parent, const QString& defaultName) {
    QFileDialog dialog(parent, QStringLiteral("Save Log As"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("Text Files (*.txt *.TXT)"));
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.setDirectory(QDir::homePath());
    dialog.selectFile(defaultName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

QString CDialogPrompter::AskGoTo(QWidget* parent, const std::vector<std::string>& history) {
    CFTPGotoDlg dialog(history, parent);
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    return dialog.Text();
}

void CDialogPrompter::ShowAbout(QWidget* parent, AboutPage page, bool selectPage) {
    CFTPAboutDlg dialog(parent);
    dialog.ShowPage(page, selectPage);
    dialog.exec();
}

} // namespace qb::ui

namespace qb::ui {

bool CDialogPrompter::EditSite(QWidget* parent, SiteDialogValues& values, int mode) {
    CFTPSiteDlg dialog(parent, values, mode);
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    values = dialog.Result();
    return true;
}

bool CDialogPrompter::EditSiteFolder(QWidget* parent, std::string& label, std::string& comments,
                                     bool edit) {
    CFTPSiteFolderDlg dialog(parent, label, comments, edit);
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    label = dialog.Label();
    comments = dialog.Comments();
    return true;
}

std::string CDialogPrompter::AskNewFolder(QWidget* parent, const NewFolderRequest& request) {
    if (request.remote) {
        std::unique_ptr<CFTPRemoteFolderDlg> dialog(CFTPRemoteFolderDlg::ForNewFolder(
            QString::fromStdString(request.location), request.existing, request.questions, parent));
        return dialog->exec() == QDialog::Accepted ? dialog->Name() : std::string();
    }
    CFTPLocalFolderDlg dialog(request.location, request.questions, parent);
    return dialog.exec() == QDialog::Accepted ? dialog.Name() : std::string();
}

void CDialogPrompter::ShowProperties(QWidget* parent, const ItemProperties& item) {
    switch (item.kind) {
    case VI_RAMDISK:
    case VI_FLOPPY:
    case VI_FIXEDDISK:
    case VI_CDROM:
    case VI_REMOVABLE:
    case VI_NETDRIVE: {
        CFTPLocalDriveDlg dialog(item.drive, parent);
        dialog.exec();
        return;
    }
    case VI_LOCALFOLDER: {
        CFTPLocalFolderDlg dialog(item.location, item.name, item.questions, parent);
        if (dialog.IsValid()) {
            dialog.exec();
        }
        return;
    }
    case VI_LOCALFILE: {
        CFTPLocalFileDlg dialog(item.location, item.name, item.questions, parent);
        if (dialog.IsValid()) {
            dialog.exec();
        }
        return;
    }
    case VI_REMOTEFOLDER: {
        std::unique_ptr<CFTPRemoteFolderDlg> dialog(CFTPRemoteFolderDlg::ForProperties(
            QString::fromStdString(item.location), QString::fromStdString(item.name), item.modified,
            item.size, parent));
        dialog->exec();
        return;
    }
    case VI_REMOTEFILE: {
        CFTPRemoteFileDlg dialog(QString::fromStdString(item.location),
                                 QString::fromStdString(item.name), item.modified, item.size,
                                 parent);
        dialog.exec();
        return;
    }
    default:
        return;
    }
}

bool CDialogPrompter::AskProxyLogin(QWidget* parent, ProxyLogin& login) {
    CQtLoginProxyDialog dialog(parent);
    return dialog.AskProxyLogin(login);
}

int CDialogPrompter::AskDropAction(QWidget* parent, const QPoint& at) {
    QMenu menu(parent);
    QAction* copy = menu.addAction(QStringLiteral("Copy Here"));
    QAction* move = menu.addAction(QStringLiteral("Move Here"));
    menu.addSeparator();
    menu.addAction(QStringLiteral("Cancel"));
    QAction* chosen = menu.exec(at);
    return chosen == copy ? ID_COPY_HERE : chosen == move ? ID_MOVE_HERE : ID_CANCEL_DROP;
}

bool CDialogPrompter::ConfirmDelete(QWidget* parent, const QString& what) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm Delete"),
                    QStringLiteral("Are you sure you want to delete\n%1").arg(what),
                    QMessageBox::NoButton, parent);
    QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
    box.setDefaultButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

CMoveConfirmationDlg::CMoveConfirmationDlg(QWidget* parent, const QString& items,
                                           const QString& folder, bool move)
    : QDialog(parent) {
    setObjectName(QStringLiteral("moveConfirmation"));
    setWindowTitle(QString::fromLatin1(move ? lfs::kConfirmMoveCaption : lfs::kConfirmCopyCaption));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(
        QString::fromLatin1(move ? lfs::kConfirmMovePrompt : lfs::kConfirmCopyPrompt), this));
    auto* itemsLine = new QLineEdit(items, this);
    itemsLine->setObjectName(QStringLiteral("items"));
    itemsLine->setReadOnly(true);
    itemsLine->setMinimumWidth(360);
    layout->addWidget(itemsLine);
    layout->addWidget(new QLabel(QString::fromLatin1(lfs::kConfirmToFolder), this));
    auto* folderLine = new QLineEdit(folder, this);
    folderLine->setObjectName(QStringLiteral("folder"));
    folderLine->setReadOnly(true);
    layout->addWidget(folderLine);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (const lfs::DialogButton& spec : lfs::kConfirmButtons) {
        auto* button = new QPushButton(QString::fromLatin1(spec.text), this);
        const int result = spec.result;
        connect(button, &QPushButton::clicked, this, [this, result] { done(result); });
        button->setDefault(result == lfs::CONFIRM_YES);
        buttons->addWidget(button);
    }
    layout->addLayout(buttons);
}

bool IsContextMenuKey(const QKeyEvent* event) {
    return event->key() == Qt::Key_Menu ||
           (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier);
}

bool CDialogPrompter::ConfirmMove(QWidget* parent, const QString& items, const QString& folder,
                                  bool move) {
    CMoveConfirmationDlg dialog(parent, items, folder, move);
    return dialog.exec() == lfs::CONFIRM_YES;
}

int CDialogPrompter::AskLocalReplace(QWidget* parent, const CLFSReplaceQuestion& question) {
    if (!question.m_bFilled) {
        return lfs::REPLACE_CANCEL;
    }
    CReplaceConfirmationLFSDlg dialog(parent, question);
    const int answer = dialog.exec();
    // Closed without a button: cancel.
    return answer == QDialog::Rejected ? lfs::REPLACE_CANCEL : answer;
}

} // namespace qb::ui
