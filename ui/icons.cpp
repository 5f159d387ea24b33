#include "icons.h"

#include <QFile>
#include <QPixmap>

namespace qb::ui {

QIcon CutIcon(const QIcon& icon) {
    QIcon cut;
    for (int size : {16, 32}) {
        cut.addPixmap(icon.pixmap(size, size, QIcon::Disabled), QIcon::Normal);
        cut.addPixmap(icon.pixmap(size, size, QIcon::Disabled), QIcon::Selected);
    }
    return cut;
}

namespace {

const std::array<IconSource, ICON_COUNT>& Table() {
    static const std::array<IconSource, ICON_COUNT> table = {{
        {QStringLiteral(":/quillbeck/quillbeck.svg"), QStringLiteral("quillbeck"),
         QStyle::SP_ComputerIcon},
        {{}, QStringLiteral("folder-remote"), QStyle::SP_FileDialogNewFolder},
        {{}, QStringLiteral("network-server"), QStyle::SP_DriveNetIcon},
        {{}, QStringLiteral("folder-new"), QStyle::SP_FileDialogNewFolder},
        {{}, QStringLiteral("edit-delete"), QStyle::SP_TrashIcon},
        {{}, QStringLiteral("edit-rename"), QStyle::SP_FileLinkIcon},
        {{}, QStringLiteral("document-properties"), QStyle::SP_FileDialogInfoView},
        {{}, QStringLiteral("edit-cut"), QStyle::SP_DialogDiscardButton},
        {{}, QStringLiteral("edit-copy"), QStyle::SP_FileIcon},
        {{}, QStringLiteral("edit-paste"), QStyle::SP_DialogSaveButton},
        {{}, QStringLiteral("view-list-icons"), QStyle::SP_FileDialogContentsView},
        {{}, QStringLiteral("view-list-icons"), QStyle::SP_FileDialogListView},
        {{}, QStringLiteral("view-list-text"), QStyle::SP_FileDialogListView},
        {{}, QStringLiteral("view-list-details"), QStyle::SP_FileDialogDetailedView},
        {{}, QStringLiteral("go-up"), QStyle::SP_FileDialogToParent},
        {{}, QStringLiteral("text-x-generic"), QStyle::SP_FileIcon},
        {{}, QStringLiteral("application-octet-stream"), QStyle::SP_DriveHDIcon},
        {{}, QStringLiteral("system-run"), QStyle::SP_BrowserReload},
        {{}, QStringLiteral("process-stop"), QStyle::SP_BrowserStop},
    }};
    return table;
}

bool Usable(const QIcon& icon) {
    return !icon.isNull() && !icon.pixmap(16, 16).isNull();
}

} // namespace

const IconSource& CIconSet::Source(IconId id) {
    return Table()[static_cast<std::size_t>(id)];
}

QIcon CIconSet::Load(const IconSource& source, const QStyle& style, bool* usedFallback) {
    if (usedFallback) {
        *usedFallback = false;
    }
    if (!source.file.isEmpty() && QFile::exists(source.file)) {
        QIcon icon(source.file);
        if (Usable(icon)) {
            return icon;
        }
    }
    if (!source.themeName.isEmpty() && QIcon::hasThemeIcon(source.themeName)) {
        QIcon icon = QIcon::fromTheme(source.themeName);
        if (Usable(icon)) {
            return icon;
        }
    }
    if (source.standard != QStyle::SP_CustomBase) {
        QIcon icon = style.standardIcon(source.standard);
        if (Usable(icon)) {
            return icon;
        }
    }
    if (usedFallback) {
        *usedFallback = true;
    }
    QIcon icon = style.standardIcon(QStyle::SP_FileIcon);
    if (Usable(icon)) {
        return icon;
    }
    // A style without any icon: a plain square keeps the buttons usable.
    QPixmap square(16, 16);
    square.fill(Qt::gray);
    return QIcon(square);
}

void CIconSet::Load(const QStyle& style) {
    m_nFallbacks = 0;
    for (int i = 0; i < ICON_COUNT; ++i) {
        bool fallback = false;
        m_icons[static_cast<std::size_t>(i)] =
            Load(Source(static_cast<IconId>(i)), style, &fallback);
        if (fallback) {
            ++m_nFallbacks;
        }
    }
}

} // namespace qb::ui
