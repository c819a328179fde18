#include "tests/support/LocaleSwitch.h"

#include <clocale>

LocaleSwitch::LocaleSwitch(const std::string& name)
    : name_(name)
    , previous_(std::setlocale(LC_CTYPE, nullptr))
    , active_(std::setlocale(LC_CTYPE, name.c_str()) != nullptr)
{ }

LocaleSwitch::~LocaleSwitch()
{
    std::setlocale(LC_CTYPE, previous_.c_str());
}

std::string LocaleSwitch::missing() const
{
    // "zh_TW.BIG5" is made from the source zh_TW and the character map BIG5.
    const std::size_t dot = name_.find('.');
    if (dot == std::string::npos)
        return "no locale " + name_ + " on this machine";
    return "no locale " + name_ + " on this machine (localedef -f " + name_.substr(dot + 1) + " -i "
        + name_.substr(0, dot) + " " + name_ + " makes one; see scripts/setup.sh)";
}
