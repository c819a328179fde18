#pragma once

#include <string>

// The file version of the running program as "major.minor.patch.tweak", read
// from its own executable file; "" when the file carries none or cannot be
// read. For the About box: "kelvoran : " + GetFileVersionString().
std::string GetFileVersionString();

// The same for any file: the version note that kelvoran_add_version_note
// builds in (ELF section ".note.kelvoran.version", owner "kelvoran", type 1,
// two 32-bit words major<<16|minor and patch<<16|tweak). "" for a file without
// it, an unreadable file, or one that is not a well-formed ELF file.
std::string FileVersionStringOf(const std::string& path);
