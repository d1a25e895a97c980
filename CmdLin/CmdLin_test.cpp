// Switch queries: the integer rules of switch values, letters, and the queries
// over a command line that the test sets up itself.
#include "CmdLin/CmdLin.h"

#include "CmdLin/cmdsource.h"
#include "runtime/sysio.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <list>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include "CmdLin/cmdsplit.h"
#include <windows.h>
#endif

namespace {

constexpr std::int32_t Int32Min = INT32_MIN;
constexpr std::int32_t Int32Max = INT32_MAX;

// --- Integer rules of switch values ---------------------------------------

struct IntCase {
    std::string text;
    bool valid;
    std::int32_t value;
};

void CheckInts(const std::vector<IntCase>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "text [" << c.text << "]");
        std::int32_t value = 12345;
        EXPECT_EQ(CmdLin::ReadSwitchInt(c.text, value), c.valid);
        if (c.valid) {
            EXPECT_EQ(value, c.value);
        }
    }
}

TEST(ReadSwitchInt, DecimalForms) {
    CheckInts({
        {"80", true, 80},
        {"+80", true, 80},
        {"080", true, 80},
        {"  80", true, 80},
        {"-5", true, -5},
        {"0", true, 0},
        {"-0", true, 0},
        {"+0", true, 0},
        {"2147483647", true, Int32Max},
        {"-2147483648", true, Int32Min},
        {"0000000000000000000000002147483647", true, Int32Max},
        {" -7", true, -7},
    });
}

TEST(ReadSwitchInt, HexFormsAreThirtyTwoBitTwosComplement) {
    CheckInts({
        {"$50", true, 80},
        {"x50", true, 80},
        {"X50", true, 80},
        {"0x50", true, 80},
        {"0X50", true, 80},
        {"$aBcD", true, 0xABCD},
        {"$0", true, 0},
        {"$7FFFFFFF", true, Int32Max},
        {"$FFFFFFFF", true, -1},
        {"$80000000", true, Int32Min},
        {"$00000000FFFFFFFF", true, -1},
        {"-$1", true, -1},
        {"-$80000000", true, Int32Min},
        {"-$FFFFFFFF", true, 1},
        {"+x10", true, 16},
        {"  0x10", true, 16},
    });
}

TEST(ReadSwitchInt, InvalidForms) {
    CheckInts({
        {"", false, 0},           {" ", false, 0},           {"80 ", false, 0},
        {"8O", false, 0},         {"1.5", false, 0},         {"--5", false, 0},
        {"+-5", false, 0},        {"- 5", false, 0},         {"-", false, 0},
        {"+", false, 0},          {"$", false, 0},           {"x", false, 0},
        {"0x", false, 0},         {"-0x", false, 0},         {"$ 5", false, 0},
        {"$-5", false, 0},        {"$G", false, 0},          {"0x$5", false, 0},
        {"2147483648", false, 0}, {"-2147483649", false, 0}, {"99999999999999999999", false, 0},
        {"$100000000", false, 0}, {"$FFFFFFFFF", false, 0},  {"ide", false, 0},
        {"\t80", false, 0},       {"80\t", false, 0},        {"1e3", false, 0},
        {"50h", false, 0},
    });
}

TEST(ReadSwitchInt, TextPastCharacter255IsIgnored) {
    const std::string zeros(250, '0');
    const std::string blanks253(253, ' ');
    CheckInts({
        // 255 characters exactly, then junk.
        {zeros + "12345" + "junk", true, 12345},
        {blanks253 + "80" + " ", true, 80},
        {blanks253 + "80" + "80", true, 80},
        // The cut falls inside the number.
        {std::string(254, ' ') + "80", true, 8},
        {std::string("$").append(250, '0') + "FFFF" + "FFFF", true, 0xFFFF},
        // Junk before the cut still spoils the value.
        {zeros + "1x345" + "0", false, 0},
        {std::string(255, ' ') + "80", false, 0},
        {std::string(10000, '9'), false, 0},
    });
}

TEST(LowerLetter, OnlyAsciiCapitalsChange) {
    for (int b = 0; b < 256; ++b) {
        const auto c = static_cast<unsigned char>(b);
        const bool capital = c >= 'A' && c <= 'Z';
        EXPECT_EQ(CmdLin::LowerLetter(c), capital ? c + 32 : c) << "byte " << b;
    }
}

// --- Which arguments are switches on this platform --------------------------

TEST(IsSwitchText, PlatformRule) {
#ifdef _WIN32
    const bool posix = false;
#else
    const bool posix = true;
#endif
    struct Case {
        std::string_view arg;
        bool windows;
        bool posix;
    };
    const std::vector<Case> cases = {
        {"", false, false},
        {"T", false, false},
        {"T/", false, false},
        {"-", true, true},
        {"-T", true, true},
        {"--T", true, true},
        {"-/usr", true, true},
        // On POSIX "/" makes a switch only in the forms the help names.
        {"/T", true, true},
        {"/n", true, true},
        {"/?", true, true},
        {"/132", true, true},
        {"/W", true, true},
        {"/W80", true, true},
        {"/j", true, true},
        {"/Json", true, false},
        {"/v-3", true, true},
        {"/W$50", true, true},
        {"/W2147483648", true, true},
        {"/1", true, false},
        {"/Tree", true, false},
        {"/Wide", true, false},
        {"/W80 ", true, false},
        {"/backup", true, false},
        {"/hoem", true, false},
        {"/no-such-entry-in-the-root", true, false},
        // On POSIX a second "/" or an existing entry makes a path.
        {"/", true, false},
        {"/tmp", true, false},
        {"/usr/share", true, false},
        {"/T/", true, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CmdLin::IsSwitchText(c.arg), posix ? c.posix : c.windows) << "[" << c.arg << "]";
}

// --- Queries over a command line set up by the test -------------------------

// Sets the process arguments for the platform's command-line source. A source
// that reads the command line from the system instead (Windows) does not
// follow them; the tests then skip, as the splitter tests cover that source.
class CommandLineQueries : public ::testing::Test {
  protected:
    void SetUp() override {
        savedCount_ = runtime::ProcessArgCount();
        savedArgv_ = runtime::ProcessArgv();
    }
    void TearDown() override {
        runtime::SetProcessArgs(savedCount_, const_cast<char**>(savedArgv_));
    }

    // Installs "kelpo32" followed by args; false when the source ignores them.
    bool Use(const std::vector<std::string>& args) {
        // Every argv stays alive until the end of the run: no two share an address.
        static std::list<std::vector<std::string>> texts;
        static std::list<std::vector<char*>> pointers;
        auto& text = texts.emplace_back();
        text.push_back("kelpo32");
        text.insert(text.end(), args.begin(), args.end());
        auto& argv = pointers.emplace_back();
        for (auto& s : text)
            argv.push_back(s.data());
        argv.push_back(nullptr);
        runtime::SetProcessArgs(static_cast<int>(text.size()), argv.data());

        std::vector<std::string> nonEmpty;
        for (const auto& a : args)
            if (!a.empty()) nonEmpty.push_back(a);
        if (CmdLin::ArgCount() != static_cast<std::int32_t>(nonEmpty.size())) return false;
        for (std::size_t i = 0; i < nonEmpty.size(); ++i)
            if (CmdLin::ArgText(static_cast<std::int32_t>(i + 1)) != nonEmpty[i]) return false;
        return true;
    }

  private:
    int savedCount_ = 0;
    const char* const* savedArgv_ = nullptr;
};

#define USE_ARGS_OR_SKIP(...)                                                                      \
    do {                                                                                           \
        if (!Use(__VA_ARGS__)) GTEST_SKIP() << "the command line of this platform is not faked";   \
    } while (false)

struct SwitchCase {
    std::vector<std::string> args;
    unsigned char letter;
    std::int32_t index;
    std::int32_t value;
};

// The letter rules, with "-" where a "/" argument would be a path on POSIX.
TEST_F(CommandLineQueries, SwitchLetterIndexAndValue) {
    const std::string blanks253(253, ' ');
    const std::vector<SwitchCase> cases = {
        {{}, 'T', 0, 0},
        {{"/t", "-N"}, 'T', 1, 0},
        {{"/t", "-N"}, 'n', 2, 0},
        {{"-Tree"}, 't', 1, 0},
        {{"-tx"}, 'T', 1, 0},
        {{"/132"}, '1', 1, 32},
        {{"-1"}, '1', 1, 0},
        {{"-100"}, '1', 1, 0},
        {{"-1x"}, '1', 1, 0},
        {{"-Wide"}, 'W', 1, 0},
        {{"/W"}, 'W', 1, 0},
        {{"/W80", "/W100"}, 'W', 1, 80},
        {{"dir", "-w100", "/W80"}, 'W', 2, 100},
        {{"/W$50"}, 'W', 1, 80},
        {{"/Wx50"}, 'W', 1, 80},
        {{"/W0x50"}, 'W', 1, 80},
        {{"/W-5"}, 'W', 1, -5},
        {{"/W2147483648"}, 'W', 1, 0},
        {{"/V-2147483648"}, 'V', 1, Int32Min},
        {{"/V2147483647"}, 'v', 1, Int32Max},
        {{"/W 80"}, 'W', 1, 80},
        {{"-W 80 "}, 'W', 1, 0},
        {{std::string("/W") + blanks253 + "80" + "xyz"}, 'W', 1, 80},
        {{std::string("/W").append(254, ' ') + "80"}, 'W', 1, 8},
        {{"--T"}, 'T', 0, 0},
        {{"--T"}, '-', 1, 0},
        {{"/?"}, '?', 1, 0},
        {{"/H"}, 'h', 1, 0},
        {{"", "", "/T"}, 'T', 1, 0},
        {{"T", "W80"}, 'T', 0, 0},
        {{"T", "W80"}, 'W', 0, 0},
        // After "--" nothing is a switch.
        {{"--", "/T", "-T"}, 'T', 0, 0},
        {{"/N", "--", "--", "-N"}, 'N', 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "letter " << c.letter << ", first arg ["
                                          << (c.args.empty() ? "" : c.args[0]) << "]");
        USE_ARGS_OR_SKIP(c.args);
        EXPECT_EQ(CmdLin::SwitchIndex(c.letter), c.index);
        EXPECT_EQ(CmdLin::HasSwitch(c.letter), c.index != 0);
        EXPECT_EQ(CmdLin::SwitchValue(c.letter), c.value);
    }
}

TEST_F(CommandLineQueries, SwitchCharacterAloneMatchesNoLetter) {
    for (const auto& args : std::vector<std::vector<std::string>>{{"-"}, {"/"}, {"-", "/"}}) {
        USE_ARGS_OR_SKIP(args);
        for (int b = 0; b < 256; ++b) {
            EXPECT_FALSE(CmdLin::HasSwitch(static_cast<unsigned char>(b))) << "byte " << b;
            EXPECT_EQ(CmdLin::SwitchValue(static_cast<unsigned char>(b)), 0) << "byte " << b;
        }
    }
}

struct PositionalCase {
    std::vector<std::string> args;
    std::vector<std::string> positional;
};

TEST_F(CommandLineQueries, PositionalParameters) {
    const std::vector<PositionalCase> cases = {
        {{}, {}},
        {{"dir"}, {"dir"}},
        {{"/T", "dir", "-N", "other", "/W80"}, {"dir", "other"}},
        {{"-dir with blanks"}, {}},
        {{"", "dir", ""}, {"dir"}},
        {{"My Dir"}, {"My Dir"}},
        // A lone "-" is a switch without a letter; a lone "/" is the root here.
        {{"-"}, {}},
        {{"/"}, {"/"}},
        {{"-", "/", "/T"}, {"/"}},
        {{"/tmp", "/usr/share", "/N", "/no-such-entry-in-the-root"},
         {"/tmp", "/usr/share", "/no-such-entry-in-the-root"}},
        {{"relative/dir/", "/T"}, {"relative/dir/"}},
        {{"--", "-old", "/T", "--"}, {"-old", "/T", "--"}},
        {{"--help", "x", "--"}, {"x"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "first arg [" << (c.args.empty() ? "" : c.args[0])
                                          << "], " << c.args.size() << " args");
        USE_ARGS_OR_SKIP(c.args);
        const auto count = static_cast<std::int32_t>(c.positional.size());
        EXPECT_EQ(CmdLin::PositionalCount(), count);
        for (std::int32_t n = 1; n <= count; ++n)
            EXPECT_EQ(CmdLin::PositionalParam(n), c.positional[static_cast<std::size_t>(n - 1)]);
        EXPECT_EQ(CmdLin::PositionalParam(0), "");
        EXPECT_EQ(CmdLin::PositionalParam(-1), "");
        EXPECT_EQ(CmdLin::PositionalParam(count + 1), "");
        EXPECT_EQ(CmdLin::PositionalParam(Int32Max), "");
    }
}

TEST_F(CommandLineQueries, ArgTextOutOfRangeIsEmpty) {
    USE_ARGS_OR_SKIP({"a", "", "b"});
    EXPECT_EQ(CmdLin::ArgCount(), 2);
    EXPECT_EQ(CmdLin::ArgText(1), "a");
    EXPECT_EQ(CmdLin::ArgText(2), "b");
    EXPECT_EQ(CmdLin::ArgText(3), "");
    EXPECT_EQ(CmdLin::ArgText(-1), "");
    EXPECT_EQ(CmdLin::ArgText(Int32Min), "");
    EXPECT_EQ(CmdLin::ArgText(0), CmdLin::ProgramPath());
}

constexpr CmdLin::LongOptionSpec TestTable[] = {
    {"help", false}, {"format", true}, {"follow-links", false}, {"top", true}, {"top-level", false},
};

struct LongCase {
    std::vector<std::string> args;
    std::string uses; // "name=value" of each use, blank-separated
    std::vector<std::string> positional;
    CmdLin::LongOptionFault fault = CmdLin::LongOptionFault::None;
};

std::string UsesText() {
    std::string text;
    for (const auto& use : CmdLin::LongOptionUses())
        text.append(text.empty() ? "" : " ").append(use.Name).append("=").append(use.Value);
    return text;
}

// Long options as getopt_long reads them: a value after "=" or as the next
// argument (which is then neither positional nor a switch), unambiguous
// prefixes, an exact name before the longer ones it begins; every use kept.
TEST_F(CommandLineQueries, LongOptionsAsGetoptLongReadsThem) {
    using F = CmdLin::LongOptionFault;
    CmdLin::UseLongOptions(TestTable);
    const std::vector<LongCase> cases = {
        {{"--format=tsv", "dir"}, "format=tsv", {"dir"}},
        {{"--format", "tsv", "dir"}, "format=tsv", {"dir"}},
        {{"--form=", "dir"}, "format=", {"dir"}},
        {{"--format", "-T", "--format", "--", "x"}, "format=-T format=--", {"x"}},
        {{"--top", "3", "--top-level", "--top=4", "--fol"},
         "top=3 top-level= top=4 follow-links=",
         {}},
        {{"--to=4"}, "", {}, F::Ambiguous},
        {{"--he", "--", "--help"}, "help=", {"--help"}},
        {{"--fo"}, "", {}, F::Ambiguous},
        {{"--format"}, "", {}, F::MissingValue},
        {{"--help=yes"}, "", {}, F::UnwantedValue},
        {{"--frob", "dir"}, "", {"dir"}, F::Unknown},
        {{"--=x"}, "", {}, F::Unknown},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "first arg [" << c.args[0] << "]");
        USE_ARGS_OR_SKIP(c.args);
        EXPECT_EQ(CmdLin::FirstLongOptionProblem().Fault, c.fault);
        EXPECT_EQ(UsesText(), c.uses);
        EXPECT_EQ(CmdLin::PositionalCount(), static_cast<std::int32_t>(c.positional.size()));
        for (std::size_t n = 0; n < c.positional.size(); ++n)
            EXPECT_EQ(CmdLin::PositionalParam(static_cast<std::int32_t>(n + 1)), c.positional[n]);
        EXPECT_FALSE(CmdLin::HasSwitch('T'));
    }
    USE_ARGS_OR_SKIP({"--fo"});
    EXPECT_EQ(CmdLin::FirstLongOptionProblem().Candidates,
              (std::vector<std::string_view>{"format", "follow-links"}));
    USE_ARGS_OR_SKIP({"--top", "1", "--top=2"});
    EXPECT_EQ(UsesText(), "top=1 top=2");
    EXPECT_TRUE(CmdLin::HasLongOption("top"));
    EXPECT_FALSE(CmdLin::HasLongOption("help"));
    CmdLin::UseLongOptions({});
}

TEST_F(CommandLineQueries, FirstSwitchWithAnUnknownLetter) {
    USE_ARGS_OR_SKIP({"-T", "--x", "-", "dir", "-Xyz", "-q"});
    EXPECT_EQ(CmdLin::FirstSwitchNotIn("tn"), 5);
    EXPECT_EQ(CmdLin::FirstSwitchNotIn("tnxq"), 0);
    USE_ARGS_OR_SKIP({"--", "-x"});
    EXPECT_EQ(CmdLin::FirstSwitchNotIn(""), 0);
}

struct ValueLetterCase {
    std::vector<std::string> args;
    std::string uses; // "index:value" of each use of 'd', "index:-" when the value is missing
    std::vector<std::string> positional;
};

// A value letter given alone takes the next argument whatever its text, which
// is then not positional; attached text is its value; other letters never take one.
TEST_F(CommandLineQueries, ValueLettersTakeTheNextArgument) {
    struct Letters {
        Letters() { CmdLin::UseValueLetters("d"); }
        ~Letters() { CmdLin::UseValueLetters(""); }
        Letters(const Letters&) = delete;
        Letters& operator=(const Letters&) = delete;
    } letters;
    const std::vector<ValueLetterCase> cases = {
        {{"-d", "2", "dir"}, "1:2", {"dir"}},
        {{"-d2", "dir"}, "1:2", {"dir"}},
        {{"-D", "1", "-d", "--", "x"}, "1:1 3:--", {"x"}},
        {{"dir", "-d"}, "2:-", {"dir"}},
        {{"-x", "2"}, "", {"2"}},
        {{"--", "-d", "2"}, "", {"-d", "2"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "first arg [" << c.args[0] << "]");
        USE_ARGS_OR_SKIP(c.args);
        std::string uses;
        for (const CmdLin::SwitchUse& use : CmdLin::SwitchUses('d'))
            uses.append(uses.empty() ? "" : " ")
                .append(std::to_string(use.Index) + ":" + (use.MissingValue ? "-" : use.Value));
        EXPECT_EQ(uses, c.uses);
        ASSERT_EQ(CmdLin::PositionalCount(), static_cast<std::int32_t>(c.positional.size()));
        for (std::size_t n = 0; n < c.positional.size(); ++n)
            EXPECT_EQ(CmdLin::PositionalParam(static_cast<std::int32_t>(n + 1)), c.positional[n]);
    }
    CmdLin::UseValueLetters("");
    USE_ARGS_OR_SKIP({"-d", "2"});
    EXPECT_EQ(CmdLin::PositionalParam(1), "2");
    EXPECT_EQ(CmdLin::SwitchUses('d').front().Value, "");
}

// Each query takes the command line afresh: a new argv is seen at once.
TEST_F(CommandLineQueries, NewArgumentsAreSeenAtOnce) {
    USE_ARGS_OR_SKIP({"/W80"});
    EXPECT_EQ(CmdLin::SwitchValue('W'), 80);
    USE_ARGS_OR_SKIP({"/W90", "dir"});
    EXPECT_EQ(CmdLin::SwitchValue('W'), 90);
    EXPECT_EQ(CmdLin::PositionalParam(1), "dir");
}

#ifdef _WIN32
// The Windows source answers from the real command line, split by the shared rules.
TEST(WindowsCommandLine, QueriesFollowTheSplitLine) {
    auto params = CmdLin::SplitCommandLine(
        ::GetCommandLineA(), [](unsigned char c) { return ::IsDBCSLeadByte(c) != FALSE; });
    ASSERT_FALSE(params.empty());
    ASSERT_EQ(CmdLin::ArgCount(), static_cast<std::int32_t>(params.size() - 1));
    for (std::size_t i = 1; i < params.size(); ++i)
        EXPECT_EQ(CmdLin::ArgText(static_cast<std::int32_t>(i)), params[i]);
    EXPECT_FALSE(CmdLin::ProgramPath().empty());
}
#endif

} // namespace
