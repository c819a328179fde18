#pragma once

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
