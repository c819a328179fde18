// Feeds arbitrary bytes to the group file readers as a group file.
#include "hosts/GroupFile.h"

#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // A double-byte locale where one exists, so the multibyte stepping is fuzzed too.
    if (std::setlocale(LC_CTYPE, "zh_TW.BIG5") == nullptr)
        std::setlocale(LC_CTYPE, "C.UTF-8");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::string bytes(reinterpret_cast<const char*>(data), size);
    FilePtr file(fmemopen(bytes.data(), bytes.size(), "r"));
    if (!file)
        return 0;
    const std::vector<std::string> names = ReadGroupNames(file.get());
    std::size_t total = 0;
    for (std::size_t i = 0; i < names.size() && i < 4; ++i) {
        if (names[i].empty())
            continue;
        std::rewind(file.get());
        ReadGroupHosts(file.get(), names[i], [&](const std::string& host, const std::string& d) {
            // Host texts are never empty and never hold a delimiter byte.
            if (host.empty() || host.find_first_of(" \t\r\n") != std::string::npos)
                __builtin_trap();
            total += host.size() + d.size();
        });
    }
    // Everything handed on was cut out of the bytes read.
    if (total > size * 4)
        __builtin_trap();
    return 0;
}
