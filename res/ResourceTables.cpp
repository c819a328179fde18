#include "res/ResourceTables.h"

#include "res/ResourceIds.h"
#include "text/LocaleText.h"

#include <array>

namespace {

struct StringDef
{
    int id;
    const char* text;
};

// The string table is Korean, as it was first written, and kept here in UTF-8;
// the main window has no status bar, so of the framework's prompt texts none is
// ever shown.
constexpr std::array kStrings {
    StringDef {IDR_MAINFRAME, "kelvoran"},
    StringDef {AFX_IDS_APP_TITLE, "kelvoran"},
    StringDef {IDP_SOCKETS_INIT_FAILED,
        "Windows \xec\x86\x8c\xec\xbc\x93 \xec\xb4\x88\xea\xb8\xb0\xed\x99\x94\xec\x97\x90 "
        "\xec\x8b\xa4\xed\x8c\xa8\xed\x95\x98\xec\x98\x80\xec\x8a\xb5\xeb\x8b\x88\xeb\x8b\xa4."},
};

constexpr std::array kFileItems {
    MenuItemDef {"&Group", ID_GROUP},
    MenuItemDef {nullptr, 0},
    MenuItemDef {"Full log", ID_FULL_LOG},
    MenuItemDef {"Log by status", ID_LOG_BY_STATUS},
    MenuItemDef {nullptr, 0},
    MenuItemDef {"E&xit", ID_APP_EXIT},
};

constexpr std::array kHelpItems {
    MenuItemDef {"&About ...", ID_APP_ABOUT},
};

constexpr std::array kMenu {
    PopupDef {"&File", kFileItems},
    PopupDef {"&Help", kHelpItems},
};

constexpr std::array kAccelerators {
    AccelDef {"Ctrl+C", ID_EDIT_COPY},
    AccelDef {"Ctrl+Ins", ID_EDIT_COPY},
    AccelDef {"Ctrl+V", ID_EDIT_PASTE},
    AccelDef {"Shift+Ins", ID_EDIT_PASTE},
    AccelDef {"Ctrl+X", ID_EDIT_CUT},
    AccelDef {"Shift+Del", ID_EDIT_CUT},
    AccelDef {"Ctrl+Z", ID_EDIT_UNDO},
    AccelDef {"Alt+Backspace", ID_EDIT_UNDO},
    AccelDef {"F6", ID_NEXT_PANE},
    AccelDef {"Shift+F6", ID_PREV_PANE},
};

} // namespace

std::string LoadResString(int id)
{
    return Utf8ToLocale(ResStringUtf8(id));
}

std::string_view ResStringUtf8(int id)
{
    for (const auto& s : kStrings) {
        if (s.id == id)
            return s.text;
    }
    return {};
}

std::span<const PopupDef> MainMenu()
{
    return kMenu;
}

std::span<const AccelDef> MainAccelerators()
{
    return kAccelerators;
}
