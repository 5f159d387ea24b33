#include "local_properties.h"

#include "app/names.h"
#include "platform/questions.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>
#include <deque>
#include <dirent.h>
#include <sys/stat.h>

namespace qb::ui {

namespace {

constexpr double kMegabyte = 1048576.0;

QLineEdit* Field(const QString& label, bool readOnly, QWidget* parent, QFormLayout* form) {
    auto* edit = new QLineEdit(parent);
    edit->setReadOnly(readOnly);
    auto* caption = new QLabel(label, parent);
    caption->setBuddy(edit);
    form->addRow(caption, edit);
    return edit;
}

QLabel* Value(const QString& label, const QString& initial, QWidget* parent, QFormLayout* form) {
    auto* value = new QLabel(initial, parent);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    form->addRow(new QLabel(label, parent), value);
    return value;
}

QString TimeText(std::time_t when) {
    return QLocale().toString(QDateTime::fromSecsSinceEpoch(static_cast<qint64>(when)),
                              QLocale::ShortFormat);
}

// The four attribute boxes: read-only is the owner's write bit; hidden, a
// name starting with "."; archive and system do not exist here.
void AttributeBoxes(QWidget* parent, QLayout* layout, QCheckBox*& readOnly, QCheckBox*& hidden,
                    QCheckBox*& archive, QCheckBox*& system) {
    auto* row = new QHBoxLayout;
    readOnly = new QCheckBox(QStringLiteral("&Read-Only"), parent);
    hidden = new QCheckBox(QStringLiteral("Hi&dden"), parent);
    archive = new QCheckBox(QStringLiteral("Ar&chive"), parent);
    system = new QCheckBox(QStringLiteral("&System"), parent);
    hidden->setEnabled(false);
    archive->setEnabled(false);
    system->setEnabled(false);
    for (QCheckBox* box : {readOnly, hidden, archive, system}) {
        row->addWidget(box);
    }
    layout->addItem(row);
}

void Tell(IQuestions* questions, const std::string& text, unsigned style = MB_OK) {
    if (questions) {
        questions->MessageBox(text, style);
    }
}

// Gives or takes the owner's write permission; false when refused.
bool SetReadOnly(const std::string& path, bool readOnly) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return false;
    }
    const mode_t mode = readOnly ? (st.st_mode & ~mode_t{S_IWUSR}) : (st.st_mode | S_IWUSR);
    return ::chmod(path.c_str(), mode & 07777) == 0;
}

// The folder's total as the dialog shows it: the plain byte count, and
// the megabytes from 1 MB on.
QString CountText(FileSize bytes) {
    if (static_cast<double>(bytes) >= kMegabyte) {
        return QString::number(bytes) + QStringLiteral(" bytes ( ") +
               QString::number(static_cast<double>(bytes) / kMegabyte, 'f', 2) +
               QStringLiteral(" MB )");
    }
    return QString::number(bytes) + QStringLiteral(" bytes");
}

} // namespace

QString GroupDigits(FileSize value) {
    QString digits = QString::number(value);
    for (int at = digits.size() - 3; at > 0; at -= 3) {
        digits.insert(at, QLatin1Char(','));
    }
    return digits;
}

// --- Drive ------------------------------------------------------------------------

CFTPLocalDriveDlg::CFTPLocalDriveDlg(const LocalDriveInfo& drive, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Local Drive"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    m_pLabel = Field(QStringLiteral("&Label : "), true, this, form);
    m_pLabel->setText(QString::fromStdString(drive.label));
    m_pType = Value(QStringLiteral("Type : "), TypeText(drive.kind), this, form);
    m_pCapacity =
        Value(QStringLiteral("Capacity : "), SpaceText(drive.total, drive.ready), this, form);
    m_pUsed =
        Value(QStringLiteral("Used Space : "), SpaceText(drive.used, drive.ready), this, form);
    m_pFree =
        Value(QStringLiteral("Free Space : "), SpaceText(drive.free, drive.ready), this, form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

QString CFTPLocalDriveDlg::TypeText(int kind) {
    switch (kind) {
    case 2:
        return QStringLiteral("RAM Drive");
    case 4:
        return QStringLiteral("Floppy Drive");
    case 5:
        return QStringLiteral("Fixed Drive");
    case 6:
        return QStringLiteral("CDROM Drive");
    case 7:
        return QStringLiteral("Removable Drive");
    case 8:
        return QStringLiteral("Network Drive");
    default:
        return QStringLiteral("Local Drive");
    }
}

QString CFTPLocalDriveDlg::SpaceText(FileSize bytes, bool ready) {
    if (!ready) {
        return QStringLiteral("N/A");
    }
    return GroupDigits(bytes) + QStringLiteral(" bytes   ( ") +
           QString::number(static_cast<double>(bytes) / kMegabyte, 'f', 2) +
           QStringLiteral(" MB )");
}

// --- File ---------------------------------------------------------------------------

CFTPLocalFileDlg::CFTPLocalFileDlg(const std::string& location, const std::string& name,
                                   IQuestions* questions, QWidget* parent)
    : QDialog(parent), m_strPath(location + "/" + name), m_pQuestions(questions) {
    setWindowTitle(QStringLiteral("Local File"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    m_pName = Field(QStringLiteral("&Name : "), true, this, form);
    m_pLocation = Field(QStringLiteral("&Location : "), true, this, form);
    m_pModified = Field(QStringLiteral("Modified : "), true, this, form);
    m_pSize = Field(QStringLiteral("Size : "), true, this, form);
    AttributeBoxes(this, layout, m_pReadOnly, m_pHidden, m_pArchive, m_pSystem);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);

    struct stat st {};
    if (::stat(m_strPath.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
        Tell(m_pQuestions, "File not found!");
        return;
    }
    m_bValid = true;
    m_pName->setText(QString::fromStdString(name));
    m_pLocation->setText(QString::fromStdString(location));
    m_pModified->setText(TimeText(st.st_mtime));
    m_pSize->setText(GroupDigits(static_cast<FileSize>(st.st_size)));
    m_bReadOnlyAsRead = (st.st_mode & S_IWUSR) == 0;
    m_pReadOnly->setChecked(m_bReadOnlyAsRead);
    m_pHidden->setChecked(!name.empty() && name.front() == '.');
}

void CFTPLocalFileDlg::accept() {
    if (m_pReadOnly->isChecked() != m_bReadOnlyAsRead &&
        !SetReadOnly(m_strPath, m_pReadOnly->isChecked())) {
        Tell(m_pQuestions, "Failed to set file attributes!");
        QDialog::reject();
        return;
    }
    QDialog::accept();
}

// --- Folder ---------------------------------------------------------------------------

void CFTPLocalFolderDlg::Build() {
    setWindowTitle(QStringLiteral("Local Folder"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    m_pName = Field(QStringLiteral("&Name : "), false, this, form);
    m_pLocation = Field(QStringLiteral("&Location : "), true, this, form);
    m_pLocation->setText(QString::fromStdString(m_strLocation));
    m_pModified = Field(QStringLiteral("Modified : "), true, this, form);
    m_pSize = Value(QStringLiteral("Size : "), QStringLiteral("0 bytes"), this, form);
    m_pContains =
        Value(QStringLiteral("Contains : "), QStringLiteral("0 Files   0 Folders"), this, form);
    AttributeBoxes(this, layout, m_pReadOnly, m_pHidden, m_pArchive, m_pSystem);
    m_pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(m_pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(m_pButtons);
}

CFTPLocalFolderDlg::CFTPLocalFolderDlg(const std::string& location, IQuestions* questions,
                                       QWidget* parent)
    : QDialog(parent), m_strLocation(location), m_pQuestions(questions) {
    Build();
    QPushButton* ok = m_pButtons->button(QDialogButtonBox::Ok);
    ok->setEnabled(false);
    connect(m_pName, &QLineEdit::textChanged, this,
            [this, ok] { ok->setEnabled(!Name().empty()); });
}

CFTPLocalFolderDlg::CFTPLocalFolderDlg(const std::string& location, const std::string& name,
                                       IQuestions* questions, QWidget* parent)
    : QDialog(parent), m_strLocation(location), m_pQuestions(questions), m_bNew(false) {
    Build();
    const std::string path = location + "/" + name;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        Tell(m_pQuestions, "Folder not found!");
        m_bValid = false;
        m_bCountDone = true;
        return;
    }
    m_pName->setText(QString::fromStdString(name));
    m_pName->setReadOnly(true);
    m_pModified->setText(TimeText(st.st_mtime));
    m_bReadOnlyAsRead = (st.st_mode & S_IWUSR) == 0;
    m_pReadOnly->setChecked(m_bReadOnlyAsRead);
    m_pHidden->setChecked(!name.empty() && name.front() == '.');
    m_pButtons->button(QDialogButtonBox::Cancel)->setFocus();
    m_counter = std::thread([this, path] { Count(path); });
}

CFTPLocalFolderDlg::~CFTPLocalFolderDlg() {
    StopCounting();
}

std::string CFTPLocalFolderDlg::Name() const {
    std::string name = m_pName->text().toStdString();
    TrimSpaces(name);
    return name;
}

void CFTPLocalFolderDlg::StopCounting() {
    m_bStop = true;
    if (m_counter.joinable()) {
        m_counter.join();
    }
}

// Breadth first, never through a symbolic link nor into another mounted
// file system (a link loop, or a network mount, would never end).
void CFTPLocalFolderDlg::Count(std::string root) {
    struct stat rootStat {};
    if (::lstat(root.c_str(), &rootStat) != 0) {
        m_bCountDone = true;
        return;
    }
    std::deque<std::string> queue{std::move(root)};
    while (!queue.empty() && !m_bStop) {
        const std::string folder = std::move(queue.front());
        queue.pop_front();
        DIR* dir = ::opendir(folder.c_str());
        if (!dir) {
            continue;
        }
        FileSize bytes = 0;
        std::uint64_t files = 0;
        std::uint64_t folders = 0;
        while (dirent* entry = ::readdir(dir)) {
            if (m_bStop) {
                break;
            }
            const std::string name = entry->d_name;
            if (name == "." || name == "..") {
                continue;
            }
            const std::string path = folder + "/" + name;
            struct stat st {};
            if (::lstat(path.c_str(), &st) != 0) {
                continue;
            }
            if (S_ISDIR(st.st_mode)) {
                ++folders;
                if (st.st_dev == rootStat.st_dev) {
                    queue.push_back(path);
                }
            } else {
                ++files;
                bytes += static_cast<FileSize>(st.st_size);
            }
        }
        ::closedir(dir);
        {
            std::lock_guard<std::mutex> guard(m_countLock);
            m_nBytes += bytes;
            m_nFiles += files;
            m_nFolders += folders;
        }
        // One refresh waits at most; it shows the totals of its own time.
        if (!m_bShowPending.exchange(true)) {
            QMetaObject::invokeMethod(
                this, [this] { ShowCounts(); }, Qt::QueuedConnection);
        }
    }
    m_bCountDone = true;
    QMetaObject::invokeMethod(
        this, [this] { ShowCounts(); }, Qt::QueuedConnection);
}

void CFTPLocalFolderDlg::ShowCounts() {
    m_bShowPending = false;
    FileSize bytes = 0;
    std::uint64_t files = 0;
    std::uint64_t folders = 0;
    {
        std::lock_guard<std::mutex> guard(m_countLock);
        bytes = m_nBytes;
        files = m_nFiles;
        folders = m_nFolders;
    }
    m_pSize->setText(CountText(bytes));
    m_pContains->setText(QStringLiteral("%1 Files, %2 Folders").arg(files).arg(folders));
}

void CFTPLocalFolderDlg::accept() {
    if (!m_bNew) {
        StopCounting();
        const std::string path = m_strLocation + "/" + m_pName->text().toStdString();
        if (m_pReadOnly->isChecked() != m_bReadOnlyAsRead &&
            !SetReadOnly(path, m_pReadOnly->isChecked())) {
            Tell(m_pQuestions, "Failed to set folder attributes!");
            QDialog::reject();
            return;
        }
        QDialog::accept();
        return;
    }
    const std::string name = Name();
    if (name.empty() || !CheckName(name, NAME_LOCAL_FOLDER, m_pQuestions)) {
        return;
    }
    const std::string path = m_strLocation + "/" + name;
    if (::mkdir(path.c_str(), 0777) != 0) {
        const int answer = m_pQuestions
                               ? m_pQuestions->MessageBox("Failed to create local folder\n" + path,
                                                          MB_RETRYCANCEL | MB_ICONERROR)
                               : IDCANCEL;
        if (answer != IDRETRY) {
            QDialog::reject();
        }
        return;
    }
    if (m_pReadOnly->isChecked() && !SetReadOnly(path, true)) {
        Tell(m_pQuestions, "Failed to set folder attributes!");
    }
    struct stat st {};
    m_created = ::stat(path.c_str(), &st) == 0 ? st.st_mtime : std::time(nullptr);
    QDialog::accept();
}

void CFTPLocalFolderDlg::reject() {
    StopCounting();
    QDialog::reject();
}

} // namespace qb::ui
