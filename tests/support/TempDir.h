#pragma once

#include <ctime>
#include <string>

// A fresh temporary directory that becomes the working directory for the
// lifetime of the object (the program reads its group file and writes its log
// in the working directory). Removed, with what is in it, afterwards.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    void write(const std::string& name, const std::string& bytes) const;

private:
    std::string path_;
    std::string previous_;
};

// The whole content of a file, byte for byte; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);

// t in local time, formatted by strftime.
std::string LocalTimeText(std::time_t t, const char* format);

// The name of the result log for the local day of t: "kelvoran.YYYYMMDD".
std::string DailyLogName(std::time_t t);

// A calendar date and time of day, not yet placed in any time zone.
std::tm CivilTime(int year, int month, int day, int hour, int minute, int second);
