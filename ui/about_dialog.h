// "About Quillbeck": three texts (the product, the licence agreement, the
// release notes) in one area, chosen by buttons.
#pragma once

#include "dialogs.h"

#include <QDialog>

class QTextBrowser;

namespace qb::ui {

class CFTPAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CFTPAboutDlg(QWidget* parent = nullptr);
    // Shows a page; `select` selects its whole text.
    void ShowPage(AboutPage page, bool select = false);
    AboutPage CurrentPage() const { return m_page; }
    QTextBrowser* Area() const { return m_pArea; }

    static QString ProductText();
    static QString LicenceText();
    static QString ReleaseNotesText();

private:
    QTextBrowser* m_pArea = nullptr;
    AboutPage m_page = AboutPage::Product;
};

} // namespace qb::ui
