#include "about_dialog.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextCursor>
#include <QVBoxLayout>

namespace qb::ui {

CFTPAboutDlg::CFTPAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Quillbeck"));
    auto* layout = new QVBoxLayout(this);
    m_pArea = new QTextBrowser(this);
    m_pArea->setAccessibleName(QStringLiteral("About text"));
    m_pArea->setOpenExternalLinks(false);
    m_pArea->setMinimumSize(480, 300);
    layout->addWidget(m_pArea);

    auto* row = new QHBoxLayout;
    auto addButton = [&](const QString& text) {
        auto* button = new QPushButton(text, this);
        button->setAutoDefault(false);
        row->addWidget(button);
        return button;
    };
    QPushButton* product = addButton(QStringLiteral("&Quillbeck"));
    QPushButton* licence = addButton(QStringLiteral("&Licence Agreement"));
    QPushButton* notes = addButton(QStringLiteral("&Release Notes"));
    row->addStretch(1);
    QPushButton* close = addButton(QStringLiteral("Cl&ose"));
    close->setDefault(true);
    layout->addLayout(row);

    connect(product, &QPushButton::clicked, this, [this] { ShowPage(AboutPage::Product); });
    connect(licence, &QPushButton::clicked, this, [this] { ShowPage(AboutPage::Licence); });
    connect(notes, &QPushButton::clicked, this, [this] { ShowPage(AboutPage::ReleaseNotes); });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    ShowPage(AboutPage::Product);
}

void CFTPAboutDlg::ShowPage(AboutPage page, bool select) {
    m_page = page;
    switch (page) {
    case AboutPage::Product:
        m_pArea->setHtml(ProductText());
        break;
    case AboutPage::Licence:
        m_pArea->setHtml(LicenceText());
        break;
    case AboutPage::ReleaseNotes:
        m_pArea->setHtml(ReleaseNotesText());
        break;
    }
    if (select) {
        m_pArea->selectAll();
        m_pArea->setFocus();
    } else {
        m_pArea->moveCursor(QTextCursor::Start);
    }
}

QString CFTPAboutDlg::ProductText() {
    return QStringLiteral("<h2>Quillbeck %1</h2>"
                          "<p>A desktop FTP client: local folders, FTP sites and their remote "
                          "folders in one tree, with a live log of the FTP dialogue.</p>"
                          "<p>Built with Qt %2 (running on Qt %3).</p>")
        .arg(QStringLiteral(QB_VERSION), QStringLiteral(QT_VERSION_STR),
             QString::fromLatin1(qVersion()));
}

QString CFTPAboutDlg::LicenceText() {
    return QStringLiteral(
        "<h3>Licence Agreement</h3>"
        "<p>Permission is hereby granted, free of charge, to any person obtaining a copy of "
        "Quillbeck and its documentation, to use, copy, modify, merge, publish and distribute "
        "it, subject to the following conditions: the above notice and this permission notice "
        "shall be included in all copies or substantial portions of the software.</p>"
        "<p>THE SOFTWARE IS PROVIDED \"AS IS\", WITHOUT WARRANTY OF ANY KIND, EXPRESS OR "
        "IMPLIED, INCLUDING BUT NOT LIMITED TO THE WARRANTIES OF MERCHANTABILITY, FITNESS FOR "
        "A PARTICULAR PURPOSE AND NONINFRINGEMENT. IN NO EVENT SHALL THE AUTHORS BE LIABLE FOR "
        "ANY CLAIM, DAMAGES OR OTHER LIABILITY ARISING FROM, OUT OF OR IN CONNECTION WITH THE "
        "SOFTWARE OR ITS USE.</p>"
        "<p>FTP sends passwords and files unencrypted: use it only on networks you trust.</p>");
}

QString CFTPAboutDlg::ReleaseNotesText() {
    return QStringLiteral("<h3>Release Notes</h3>"
                          "<p>Version %1</p>"
                          "<ul>"
                          "<li>The main window: menus, tool bar, status bar with two "
                          "connections, and the FTP activity log.</li>"
                          "<li>Connections in passive and active mode, directly or through a "
                          "firewall proxy.</li>"
                          "<li>The activity log keeps the newest 100,000 lines.</li>"
                          "</ul>")
        .arg(QStringLiteral(QB_VERSION));
}

} // namespace qb::ui
