#include "item_dialogs.h"

#include "app/names.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace qb::ui {

namespace {

std::string Trimmed(const QString& text) {
    std::string value = text.toStdString();
    TrimSpaces(value);
    return value;
}

QLineEdit* Field(const QString& label, const QString& value, bool readOnly, QWidget* parent,
                 QFormLayout* form) {
    auto* edit = new QLineEdit(value, parent);
    edit->setReadOnly(readOnly);
    auto* caption = new QLabel(label, parent);
    caption->setBuddy(edit);
    form->addRow(caption, edit);
    return edit;
}

QDialogButtonBox* Buttons(QDialog* dialog, QDialogButtonBox::StandardButtons which) {
    auto* buttons = new QDialogButtonBox(which, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

} // namespace

// --- Go To ---------------------------------------------------------------------------

CFTPGotoDlg::CFTPGotoDlg(const std::vector<std::string>& history, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Go To"));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("&Type the name and path of destination :"), this);
    m_pPath = new QComboBox(this);
    m_pPath->setEditable(true);
    m_pPath->setInsertPolicy(QComboBox::NoInsert);
    m_pPath->setMinimumWidth(360);
    label->setBuddy(m_pPath);
    for (auto it = history.rbegin(); it != history.rend(); ++it) {
        m_pPath->addItem(QString::fromStdString(*it));
    }
    if (m_pPath->count() > 0) {
        m_pPath->setCurrentIndex(0);
        m_pPath->lineEdit()->selectAll();
    } else {
        m_pPath->setCurrentText(QString());
    }
    layout->addWidget(label);
    layout->addWidget(m_pPath);
    layout->addWidget(Buttons(this, QDialogButtonBox::Ok | QDialogButtonBox::Cancel));
}

QString CFTPGotoDlg::Text() const {
    return QString::fromStdString(Trimmed(m_pPath->currentText()));
}

// --- Remote Folder ---------------------------------------------------------------------

CFTPRemoteFolderDlg::CFTPRemoteFolderDlg(int mode, QWidget* parent)
    : QDialog(parent), m_nMode(mode) {
    setWindowTitle(QStringLiteral("Remote Folder"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    const bool properties = mode == MODE_PROPERTIES;
    m_pName = Field(QStringLiteral("&Name :"), QString(), properties, this, form);
    m_pLocation = Field(QStringLiteral("Location :"), QString(), true, this, form);
    m_pModified = Field(QStringLiteral("Modified :"), QString(), true, this, form);
    m_pSize = Field(QStringLiteral("Size :"), QString(), true, this, form);
    m_pButtons = Buttons(this, QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    layout->addWidget(m_pButtons);
}

CFTPRemoteFolderDlg* CFTPRemoteFolderDlg::ForNewFolder(const QString& location,
                                                       std::set<std::string> existing,
                                                       IQuestions* questions, QWidget* parent) {
    auto* dialog = new CFTPRemoteFolderDlg(MODE_NEW, parent);
    dialog->m_pLocation->setText(location);
    dialog->m_existing = std::move(existing);
    dialog->m_pQuestions = questions;
    connect(dialog->m_pName, &QLineEdit::textChanged, dialog, &CFTPRemoteFolderDlg::UpdateOk);
    dialog->UpdateOk();
    return dialog;
}

CFTPRemoteFolderDlg* CFTPRemoteFolderDlg::ForProperties(const QString& location,
                                                        const QString& name,
                                                        const QString& modified,
                                                        const QString& size, QWidget* parent) {
    auto* dialog = new CFTPRemoteFolderDlg(MODE_PROPERTIES, parent);
    dialog->m_pLocation->setText(location);
    dialog->m_pName->setText(name);
    dialog->m_pModified->setText(modified);
    dialog->m_pSize->setText(size);
    dialog->m_pButtons->button(QDialogButtonBox::Ok)->setFocus();
    return dialog;
}

void CFTPRemoteFolderDlg::UpdateOk() {
    m_pButtons->button(QDialogButtonBox::Ok)->setEnabled(!Trimmed(m_pName->text()).empty());
}

std::string CFTPRemoteFolderDlg::Name() const {
    return Trimmed(m_pName->text());
}

void CFTPRemoteFolderDlg::accept() {
    if (m_nMode == MODE_PROPERTIES) {
        QDialog::accept();
        return;
    }
    const std::string name = Name();
    if (name.empty()) {
        if (m_pQuestions) {
            m_pQuestions->MessageBox("You must type a name!", MB_OK);
        }
        return;
    }
    if (!CheckName(name, NAME_REMOTE_FOLDER, m_pQuestions)) {
        return;
    }
    if (m_existing.count(name) != 0) {
        if (m_pQuestions) {
            m_pQuestions->MessageBox(
                "An item named \"" + name + "\" already exists in the same folder!", MB_OK);
        }
        return;
    }
    QDialog::accept();
}

// --- Remote File -------------------------------------------------------------------------

CFTPRemoteFileDlg::CFTPRemoteFileDlg(const QString& location, const QString& name,
                                     const QString& modified, const QString& size, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Remote File"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    Field(QStringLiteral("Name :"), name, true, this, form);
    Field(QStringLiteral("Location :"), location, true, this, form);
    Field(QStringLiteral("Modified :"), modified, true, this, form);
    Field(QStringLiteral("Size :"), size, true, this, form);
    layout->addWidget(Buttons(this, QDialogButtonBox::Ok));
}

} // namespace qb::ui
