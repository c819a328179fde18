#pragma once

#include <span>
#include <string>
#include <string_view>

// The program's string table, main menu and accelerator table as plain data,
// so that the window layer builds them and tests can read them.

// A string of the table in the locale's encoding, like every text of the
// program; characters the encoding lacks come out as '?'.
std::string LoadResString(int id);

// A string of the table as the characters it is, in UTF-8, whatever the
// locale: what widgets show, since they take Unicode.
std::string_view ResStringUtf8(int id);

struct MenuItemDef
{
    const char* caption; // nullptr: a separator
    int command;
};

struct PopupDef
{
    const char* caption;
    std::span<const MenuItemDef> items;
};

struct AccelDef
{
    const char* keys; // a key sequence in portable text form, e.g. "Ctrl+C"
    int command;
};

std::span<const PopupDef> MainMenu();
std::span<const AccelDef> MainAccelerators();
