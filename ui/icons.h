// The window's icons: our own files first, then the desktop's icon theme,
// then the style's standard icons. An icon that none of them has becomes a
// generic one; start-up never fails for want of an icon.
#pragma once

#include <QIcon>
#include <QString>
#include <QStyle>
#include <array>

namespace qb::ui {

enum IconId : int {
    ICON_APP = 0,
    ICON_NEW_SITE_FOLDER,
    ICON_NEW_SITE,
    ICON_NEW_FOLDER,
    ICON_DELETE,
    ICON_RENAME,
    ICON_PROPERTIES,
    ICON_CUT,
    ICON_COPY,
    ICON_PASTE,
    ICON_LARGE_ICONS,
    ICON_SMALL_ICONS,
    ICON_LIST,
    ICON_DETAILS,
    ICON_UP_ONE_LEVEL,
    ICON_TEXT_MODE,
    ICON_BINARY_MODE,
    ICON_AUTO_MODE,
    ICON_STOP,
    ICON_COUNT
};

// Where one icon may come from, in the order tried.
struct IconSource {
    QString file;      // a file or resource of our own; empty: none
    QString themeName; // a name of the desktop's icon theme; empty: none
    QStyle::StandardPixmap standard = QStyle::SP_CustomBase; // SP_CustomBase: none
};

// The icon as a cut item shows it: dimmed until the paste or the cut's
// cancel.
QIcon CutIcon(const QIcon& icon);

class CIconSet {
public:
    // Loads every icon of the table; never fails.
    void Load(const QStyle& style);
    const QIcon& Get(IconId id) const { return m_icons[static_cast<std::size_t>(id)]; }
    // Icons that only the last resort provided.
    int FallbackCount() const { return m_nFallbacks; }

    // One icon from `source`; `usedFallback` tells whether none of the
    // source's places had it.
    static QIcon Load(const IconSource& source, const QStyle& style, bool* usedFallback = nullptr);
    static const IconSource& Source(IconId id);

private:
    std::array<QIcon, ICON_COUNT> m_icons;
    int m_nFallbacks = 0;
};

} // namespace qb::ui
