#pragma once

#include <string>

// Sets LC_CTYPE to the named locale for the lifetime of the object and puts
// the previous one back afterwards. Locales such as zh_TW.BIG5 are made by
// localedef and may be missing; a test then skips with `missing()` as reason.
class LocaleSwitch
{
public:
    explicit LocaleSwitch(const std::string& name);
    ~LocaleSwitch();
    LocaleSwitch(const LocaleSwitch&) = delete;
    LocaleSwitch& operator=(const LocaleSwitch&) = delete;

    bool active() const { return active_; }
    // Says which locale is missing and the localedef command that makes it.
    std::string missing() const;

private:
    std::string name_;
    std::string previous_;
    bool active_;
};
