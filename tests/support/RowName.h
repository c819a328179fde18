#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstddef>
#include <string>
#include <string_view>

// A table row's name as a test's name: GoogleTest takes letters, digits and
// '_' only, so every run of other characters becomes one '_', none at the
// ends, and a minus sign before a digit reads "minus", so that "left -14" and
// "left 14" stay apart: "cut in the group's last line" gives
// "cut_in_the_group_s_last_line", "left -14 snaps" "left_minus_14_snaps".
inline std::string TestNameOf(std::string_view name)
{
    auto isWordCharacter = [](char c) {
        return static_cast<unsigned char>(c) < 0x80
            && std::isalnum(static_cast<unsigned char>(c)) != 0;
    };
    std::string out;
    bool gap = false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        const bool minus = c == '-' && i + 1 < name.size()
            && std::isdigit(static_cast<unsigned char>(name[i + 1])) != 0
            && (i == 0 || !isWordCharacter(name[i - 1]));
        if (!isWordCharacter(c) && !minus) {
            gap = true;
            continue;
        }
        if (gap && !out.empty())
            out += '_';
        out += minus ? "minus_" : std::string(1, c);
        gap = false;
    }
    return out;
}

// The parameter name generator for tables whose rows carry a `name`:
// INSTANTIATE_TEST_SUITE_P(Rows, Test, testing::ValuesIn(kRows), RowName()).
struct RowName
{
    template<class Row>
    std::string operator()(const testing::TestParamInfo<Row>& info) const
    {
        return TestNameOf(info.param.name);
    }
};
