// The matcher of the Windows build against the C library's fnmatch, on
// random patterns and names made of the characters that mean something.
#include "runtime/shellpattern.h"

#include <fnmatch.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

namespace runtime {
namespace {

std::string RandomText(std::mt19937& rng, std::string_view alphabet, std::size_t most) {
    std::string text;
    for (std::size_t n = rng() % (most + 1); n > 0; --n)
        text += alphabet[rng() % alphabet.size()];
    return text;
}

TEST(ShellPattern, MatchesAsFnmatchWithoutFlags) {
    std::mt19937 rng(7);
    for (int i = 0; i < 200000; ++i) {
        std::string pattern = RandomText(rng, "ab*?[]!^-\\", 7);
        std::string name = RandomText(rng, "ab[]!-\\*", 5);
        bool expected = fnmatch(pattern.c_str(), name.c_str(), 0) == 0;
        ASSERT_EQ(MatchShellPattern<char>(pattern, name), expected)
            << "pattern '" << pattern << "' name '" << name << "'";
    }
}

} // namespace
} // namespace runtime
