#include "kelpo32/saved/saved_scan.h"
#include "kelpo32/testing/memory_source.h"
#include "kelpo32/tree/builder.h"

#include "runtime/dirsearch.h"
#include "runtime/gzip.h"
#include "runtime/textout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace kelpo32::saved {
namespace {

// Writes `text` to a file of the test and reads it back as a saved scan.
bool Load(const std::string& text, SavedScan& scan, std::string& error, bool diskUsage = false,
          bool countLinks = false, bool browse = false) {
    const char* name = "saved_scan_test.tmp";
    std::FILE* f = std::fopen(name, "wb");
    EXPECT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    bool ok = LoadSavedScan(name, diskUsage, countLinks, scan, error, browse);
    std::remove(name);
    return ok;
}

// A directory's line of JSON Lines with every key, as the program writes it:
// files, bytes, dirs, total_files, total_bytes, total_dirs; then `extra`.
std::string Dir(const std::string& path, int depth, std::array<std::int64_t, 6> n = {},
                const std::string& extra = "") {
    static constexpr const char* Keys[] = {"files",       "bytes",       "dirs",
                                           "total_files", "total_bytes", "total_dirs"};
    std::string line = "{\"path\":\"" + path + "\",\"depth\":" + std::to_string(depth);
    for (std::size_t k = 0; k < n.size(); ++k)
        line += ",\"" + std::string(Keys[k]) + "\":" + std::to_string(n[k]);
    return line + extra + "}";
}

// A "more" line: `more` directories below `parent` with their totals.
std::string More(const std::string& parent, int depth, int more, std::int64_t files,
                 std::int64_t bytes, std::int64_t dirs) {
    return "{\"parent\":\"" + parent + "\",\"depth\":" + std::to_string(depth) +
           ",\"more\":" + std::to_string(more) + ",\"total_files\":" + std::to_string(files) +
           ",\"total_bytes\":" + std::to_string(bytes) + ",\"total_dirs\":" + std::to_string(dirs) +
           "}";
}

// `text` as gzip, through the program's own writer.
std::string Gzipped(const std::string& text) {
    const char* name = "saved_scan_test.gz";
    {
        runtime::TextOut out;
        out.Create(name, 4096);
        std::unique_ptr<runtime::ByteSink> sink = runtime::NewGzipSink();
        out.SetSink(sink.get());
        out.Write(text);
        out.FinishSink();
        out.Close();
    }
    std::string bytes;
    std::FILE* f = std::fopen(name, "rb");
    for (int c; (c = std::fgetc(f)) != EOF;)
        bytes += static_cast<char>(c);
    std::fclose(f);
    std::remove(name);
    return bytes;
}

// Every event as one line: its kind, level, id of siblings, path and name.
class Recorder final : public walk::WalkConsumer {
  public:
    std::vector<std::string> Lines;
    // The platform's separator written as "/".
    static std::string Slashed(std::string path) {
        std::replace(path.begin(), path.end(), runtime::PathSeparator(), '/');
        return path;
    }
    void DirListed(const walk::WalkDir& d, const walk::WalkListing& l) override {
        Lines.push_back("listed " + std::to_string(d.Level) + " " + std::to_string(d.Id) + "/" +
                        std::to_string(d.SiblingCount) + " " + Slashed(d.Path) + "|" + d.Name +
                        " " + std::to_string(l.FileCount) + " " + std::to_string(l.FileBytes));
    }
    void DirDone(const walk::WalkDir& d, const walk::WalkListing&, std::int64_t total) override {
        Lines.push_back("done " + Slashed(d.Path) + "|" + d.Name + " " + std::to_string(total));
    }
};

TEST(SavedScanTest, NamesOfEveryKindComeBackWhereverTheReadBlocksEnd) {
    // Each piece as an export writes it, and the bytes it stands for.
    const std::pair<std::string_view, std::string_view> Pieces[] = {
        {"a", "a"},
        {"xyz0", "xyz0"},
        {"\\\"", "\""},
        {"\\\\", "\\"},
        {"\\n", "\n"},
        {"\\u00e9", "\xC3\xA9"},
        {"\\udcfe", "\xFE"},
        {"\\udc9b", "\x9B"},
        {"\\ud83d\\ude00", "\xF0\x9F\x98\x80"},
        // A pair whose low half is one of the escapes of a byte is a character.
        {"\\ud83d\\udc9b", "\xF0\x9F\x92\x9B"},
        // Characters of the last plane, raw and as a pair, are themselves.
        {"\xF4\x8F\xB0\x80", "\xF4\x8F\xB0\x80"},
        {"\\udbff\\udcfe", "\xF4\x8F\xB3\xBE"},
        {"\xC2\x9B", "\xC2\x9B"},
        {"\xFF", "\xFF"},
        {"\xC3\xA9", "\xC3\xA9"},
        {"\xE6\x97", "\xE6\x97"},
        {"\xED\xA0\x80", "\xED\xA0\x80"},
        {"{}[],: ", "{}[],: "},
    };
    const char sep = runtime::PathSeparator();
    const std::string jsonSep = sep == '\\' ? "\\\\" : "/";
    std::mt19937 random(7);
    std::string ncdu = "[1,2,{},[{\"name\":\"R\"}";
    std::string jsonl;
    std::vector<std::string> names;
    for (int d = 0; d < 4000; ++d) {
        // A number first: siblings' names differ.
        std::string written = std::to_string(d);
        std::string bytes = written;
        // The first name is longer than a read block on its own.
        for (auto n = d == 0 ? 30000 : 1 + random() % 40; n > 0; --n) {
            const auto& [json, raw] = Pieces[random() % std::size(Pieces)];
            if (raw.find(sep) != std::string_view::npos) continue;
            written += json;
            bytes += raw;
        }
        ncdu += ",[{\"name\":\"" + written + "\",\"asize\":" + std::to_string(d) + "}]";
        jsonl += Dir("R" + jsonSep + written, 1) + "\n";
        names.push_back(bytes);
    }
    ncdu += "]]";
    jsonl += Dir("R", 0, {0, 0, 4000, 0, 0, 4000}) + "\n";
    for (const std::string& text : {ncdu, jsonl}) {
        SavedScan scan;
        std::string error;
        ASSERT_TRUE(Load(text, scan, error)) << error;
        ASSERT_EQ(static_cast<std::size_t>(scan.Tree.Size()), names.size() + 1);
        // The ncdu export's start comes first, JSON Lines' last.
        tree::DirIndex first = text[0] == '[' ? 1 : 0;
        for (std::size_t i = 0; i < names.size(); ++i)
            ASSERT_TRUE(scan.Tree.Name(first + static_cast<tree::DirIndex>(i)) == names[i]) << i;
    }
}

TEST(SavedScanTest, ReasonsPastAThousandShareOne) {
    // Every directory with a reason of its own.
    const std::string sep = runtime::PathSeparator() == '\\' ? "\\\\" : "/";
    std::string text;
    for (int i = 0; i <= 1000; ++i)
        text +=
            Dir("r" + sep + std::to_string(i), 1, {}, ",\"error\":\"e" + std::to_string(i) + "\"") +
            "\n";
    text += Dir("r", 0, {0, 0, 1001, 0, 0, 1001}) + "\n";
    SavedScan scan;
    std::string error;
    ASSERT_TRUE(Load(text, scan, error)) << error;
    class Reasons final : public walk::WalkConsumer {
      public:
        std::vector<std::string> Seen;
        void DirListed(const walk::WalkDir&, const walk::WalkListing& l) override {
            Seen.push_back(l.Reason);
        }
    } reasons;
    ReplaySavedScan(scan, "r", reasons);
    ASSERT_EQ(reasons.Seen.size(), 1002U);
    EXPECT_EQ(reasons.Seen[1], "e0");
    EXPECT_EQ(reasons.Seen[1000], "e999");
    EXPECT_EQ(reasons.Seen[1001], "could not be read");
}

TEST(SavedScanTest, ReplayIsTheWalksDepthFirstOrderAndLinksCountWhereFirstMet) {
    // The start's own linked file comes after its subdirectory in the file,
    // but the walk meets it first (a directory's files before its subtrees).
    std::string ncdu = R"([1,1,{"x":[{}]},[{"name":"R","dev":5},
        [{"name":"a"},{"name":"f","asize":1,"dsize":4096,"ino":9,"hlnkc":true},[{"name":"c"}]],
        {"name":"g","asize":2,"dsize":8192,"ino":9,"nlink":2},
        {"name":"p","excluded":"pattern","asize":100},
        {"name":"m","excluded":"otherfs"},
        [{"name":"b","read_error":true,"future":{"k":[1,2]}}]]])";
    for (bool diskUsage : {false, true})
        for (bool countLinks : {false, true}) {
            SavedScan scan;
            std::string error;
            ASSERT_TRUE(Load(ncdu, scan, error, diskUsage, countLinks)) << error;
            Recorder rec;
            // R's own link counts; a's only with every link counted.
            const std::string own = diskUsage ? "8192" : "2";
            const std::string a = countLinks ? (diskUsage ? "4096" : "1") : "0";
            const std::int64_t total = std::stoll(own) + std::stoll(a);
            EXPECT_EQ(ReplaySavedScan(scan, "R", rec), total);
            std::vector<std::string> expected = {
                "listed 0 0/0 R| 1 " + own,
                "listed 1 1/3 R/|a 1 " + a,
                "listed 2 1/1 R/a/|c 0 0",
                "done R/a/|c 0",
                "done R/|a " + a,
                "listed 1 2/3 R/|m 0 0",
                "done R/|m 0",
                "listed 1 3/3 R/|b 0 0",
                "done R/|b 0",
                "done R| " + std::to_string(total),
            };
            EXPECT_EQ(rec.Lines, expected);
            EXPECT_EQ(scan.Tree.Trouble(3).Problem, walk::DirProblem::OtherFileSystem);
            EXPECT_EQ(scan.Tree.Trouble(4).Problem, walk::DirProblem::Unreadable);

            // The browser's column: the other kind by the same rule, kept
            // through a replay into a tree built for the browser.
            ASSERT_TRUE(Load(ncdu, scan, error, diskUsage, countLinks, true)) << error;
            const std::int64_t otherOwn = diskUsage ? 2 : 8192;
            const std::int64_t otherA = countLinks ? (diskUsage ? 1 : 4096) : 0;
            tree::TreeBuilder built(tree::Selection{}, 0, true);
            EXPECT_EQ(ReplaySavedScan(scan, "R", built), total);
            for (const tree::DirTree* t : {&scan.Tree, &built.Tree()}) {
                ASSERT_NE(t->BrowseIfAny(), nullptr);
                EXPECT_TRUE(t->OtherKindKnown());
                const tree::BrowseCells& root = (*t->BrowseIfAny())[0];
                EXPECT_EQ(root.OtherOwnBytes, otherOwn);
                EXPECT_EQ(root.OtherTotalBytes, otherOwn + otherA);
                EXPECT_EQ((*t->BrowseIfAny())[1].OtherTotalBytes, otherA);
            }
        }
    // JSON Lines hold one kind: the other is marked unknown, not zero.
    SavedScan scan;
    std::string error;
    ASSERT_TRUE(Load(Dir("r", 0, {0, 7, 0, 0, 7, 0}), scan, error, false, false, true)) << error;
    EXPECT_FALSE(scan.Tree.OtherKindKnown());
    tree::TreeBuilder built(tree::Selection{}, 0, true);
    ReplaySavedScan(scan, "r", built);
    EXPECT_FALSE(built.Tree().OtherKindKnown());
    // The other kind past the largest number: the scan still loads, that
    // kind unknown.
    ASSERT_TRUE(Load(R"([1,2,{},[{"name":"r"},{"name":"f","asize":1,"dsize":9223372036854775807},
        {"name":"g","asize":1,"dsize":9223372036854775807}]])",
                     scan, error, false, false, true))
        << error;
    EXPECT_EQ(scan.Tree.At(scan.Root).TotalBytes, 2);
    EXPECT_FALSE(scan.Tree.OtherKindKnown());
    // One inode on two devices is two files.
    ASSERT_TRUE(Load(R"([1,2,{},[{"name":"r","dev":5},{"name":"f","asize":1,"ino":9,"nlink":2},
        [{"name":"m","dev":6},{"name":"g","asize":2,"ino":9,"nlink":2}]]])",
                     scan, error))
        << error;
    EXPECT_EQ(scan.Tree.At(scan.Root).TotalBytes, 3);
}

TEST(SavedScanTest, APathLongerThanAnyStringKeptIsReadInPieces) {
    // Longer than a string kept whole, twice over: its last name and what
    // lies above it are all the reader needs.
    const std::string sep = runtime::PathSeparator() == '\\' ? "\\\\" : "/";
    auto lines = [&](const std::string& start, const std::vector<std::string>& names) {
        // The deepest first, its parents after it: the walk's order.
        std::string text;
        std::string path = start;
        std::vector<std::string> paths{start};
        for (const std::string& name : names)
            paths.push_back(path += sep + name);
        for (std::size_t depth = names.size() + 1; depth-- > 0;)
            text += Dir(paths[depth], static_cast<int>(depth),
                        {0, 0, depth < names.size(), 0, 0,
                         static_cast<std::int64_t>(names.size() - depth)}) +
                    "\n";
        return text;
    };
    SavedScan scan;
    std::string error;
    const std::string start(1 << 20, 's');
    const std::string name(std::size_t{7} << 19, 'n');
    ASSERT_TRUE(Load(lines(start, {std::string(7 << 19, 'm'), name}), scan, error)) << error;
    EXPECT_TRUE(scan.Start == start);
    EXPECT_TRUE(scan.Tree.Name(0) == name);
    // What lies above the name counts to its first byte, kept or not.
    std::string text = lines(std::string(3 << 20, 's'), {std::string(3 << 19, 'n')});
    text[9] = 't';
    EXPECT_FALSE(Load(text, scan, error));
    EXPECT_NE(error.find("a subdirectory's path does not begin with this directory's"),
              std::string::npos)
        << error;
}

// Memory that runs out anywhere while a scan is read (the reader's own
// stack included) is std::bad_alloc, which ends the run as out of memory:
// never a crash, and nothing is left half made.
TEST(SavedScanTest, RunningOutOfMemoryAnywhereIsBadAlloc) {
    const std::string texts[] = {
        R"([1,2,{"p":[{}]},[{"name":"r","dev":1},{"name":"f","asize":3,"ino":7,"nlink":2},
            [{"name":"a"},{"name":"g","asize":1,"ino":7,"nlink":2},{"name":"h","asize":4}],
            {"name":"x","excluded":"pattern"},[{"name":"b","read_error":true}]]])",
        Dir("r/a", 1, {1, 5, 0, 1, 5, 0}, ",\"error\":\"permission denied\"") + "\n" +
            Dir("r", 0, {0, 0, 1, 1, 5, 1}),
    };
    for (std::string text : texts) {
        if (text[0] == '{')
            for (std::size_t at = text.find("r/"); at != std::string::npos;
                 at = text.find("r/", at + 1))
                text.replace(at + 1, 1, runtime::PathSeparator() == '\\' ? "\\\\" : "/");
        for (int pass = 0;; ++pass) {
            SavedScan scan;
            std::string error;
            bool ok = false;
            bool threw = false;
            testing::PassAllocations = pass;
            testing::FailAllocations = 1;
            try {
                ok = Load(text, scan, error, false, false, true);
            } catch (const std::bad_alloc&) {
                threw = true;
            }
            testing::FailAllocations = 0;
            testing::PassAllocations = 0;
            if (threw) continue;
            EXPECT_TRUE(ok) << error;
            EXPECT_EQ(scan.Tree.At(scan.Root).TotalBytes, text[0] == '[' ? 7 : 5);
            break;
        }
    }
}

TEST(SavedScanTest, ACutTreeReplaysWithItsOwnTotals) {
    // Parents first, as --top=1 --min-size writes it: r lists a (cut below
    // at a depth) and a "more" line for two of its four subdirectories; the
    // fourth fell below the minimum size.
    const std::string sep = runtime::PathSeparator() == '\\' ? "\\\\" : "/";
    std::string text =
        "{\"path\":\"r\",\"depth\":0,\"files\":1,\"bytes\":1,\"dirs\":4,\"total_files\":40,"
        "\"total_bytes\":100,\"total_dirs\":12}\n"
        "{\"path\":\"r" +
        sep +
        "a\",\"depth\":1,\"files\":2,\"bytes\":2,\"dirs\":3,"
        "\"total_files\":20,\"total_bytes\":60,\"total_dirs\":5}\n"
        "{\"parent\":\"r\",\"depth\":1,\"more\":2,\"total_files\":15,\"total_bytes\":30,"
        "\"total_dirs\":4}\n";
    SavedScan scan;
    std::string error;
    ASSERT_TRUE(Load(text, scan, error)) << error;
    class Unwalked final : public walk::WalkConsumer {
      public:
        std::vector<std::string> Seen;
        void DirListed(const walk::WalkDir& d, const walk::WalkListing& l) override {
            Seen.push_back(d.Name + " " + std::to_string(l.FileCount) + "+" +
                           std::to_string(l.UnwalkedFiles) + " " + std::to_string(l.ChildCount) +
                           "+" + std::to_string(l.UnwalkedDirs));
        }
    } unwalked;
    EXPECT_EQ(ReplaySavedScan(scan, "r", unwalked), 100);
    // Only a is walked; the rest of r's and all of a's subtrees are numbers.
    EXPECT_EQ(unwalked.Seen, (std::vector<std::string>{" 1+19 4+6", "a 2+18 3+5"}));
    EXPECT_EQ(scan.Tree.At(scan.Root).TotalFiles(), 40);
    EXPECT_EQ(scan.Tree.At(scan.Root).TotalDirs, 12);
}

TEST(SavedScanTest, NestingTooDeepForAnyStackIsReadAndReplayed) {
    constexpr int Depth = 100000;
    std::string text = "[1,2,{},";
    for (int i = 0; i < Depth; ++i)
        text += "[{\"name\":\"d\"},{\"name\":\"f\",\"asize\":3},";
    text += "[{\"name\":\"z\"}]" + std::string(Depth, ']') + "]";
    SavedScan scan;
    std::string error;
    ASSERT_TRUE(Load(text, scan, error)) << error;
    class Deepest final : public walk::WalkConsumer {
      public:
        std::int32_t Level = 0;
        std::int64_t Done = 0;
        void DirStart(const walk::WalkDir& d) override { Level = std::max(Level, d.Level); }
        void DirDone(const walk::WalkDir&, const walk::WalkListing&, std::int64_t) override {
            ++Done;
        }
    } deepest;
    EXPECT_EQ(ReplaySavedScan(scan, "R", deepest), 3 * Depth);
    EXPECT_EQ(deepest.Level, Depth);
    EXPECT_EQ(deepest.Done, Depth + 1);
}

TEST(SavedScanTest, DamagedInputIsPlacedByLineAndByteOfTheFile) {
    struct Row {
        std::string Text;    // "/" in a JSON Lines path is the platform's separator
        std::string Message; // "byte }": at the last "}" of the line named
        bool DiskUsage = false;
    };
    // Bytes that the reader sees changed stand before some of the errors:
    // the place is still the file's own.
    const Row rows[] = {
        {"{\"path\":\"\xFF\xFF\xFF\",x}", "line 1, byte 14: not JSON: missing a name for "
                                          "object member"},
        {"{\"path\":\"\\udcff\",\n\n\"depth\":true}",
         "line 3, byte 31: not a number where a number belongs"},
        {"\n\n  " + Dir("x", 0, {0, 1, 0, 0, 1, 0}) + "\n{}",
         "line 4, byte }: not a saved scan: a line without \"path\", \"depth\" or "
         "\"total_bytes\""},
        // Every key the program writes is in every line, and once.
        {Dir("r/a", 1) + "\n" +
             "{\"path\":\"r\",\"depth\":0,\"files\":100,\"bytes\":0,\"dirs\":1,"
             "\"total_bytes\":0}",
         "line 2, byte }: a line without \"total_files\""},
        {"{\"path\":\"r\",\"depth\":0,\"files\":0,\"bytes\":1,\"bytes\":2}",
         "line 1, byte 49: a second \"bytes\" in one line"},
        {"[1,2,{},[{\"name\":\"x\"},[{\"name\":\"y\"}]", "line 1, byte 36: truncated: missing "
                                                         "a comma or ']' after an array element"},
        {"[1,2,{},[{\"name\":\"x\"},{\"name\":\"f\",\"asize\":9223372036854775807},"
         "{\"name\":\"g\",\"asize\":1}]]",
         "line 1, byte 84: the sizes add up to more than 8 EiB"},
        // The same, found in subdirectories of their own: the place of the
        // file that passes the limit, not the end.
        {"[1,2,{},[{\"name\":\"x\"},[{\"name\":\"a\"},{\"name\":\"f\",\"asize\":"
         "9223372036854775807}],\n[{\"name\":\"b\"},{\"name\":\"g\",\"asize\":1}]]]",
         "line 2, byte 114: the sizes add up to more than 8 EiB"},
        // A file of several links counts at once too.
        {"[1,2,{},[{\"name\":\"x\"},\n{\"name\":\"f\",\"dsize\":9223372036854775807,\"ino\":5,"
         "\"nlink\":2},{\"name\":\"g\",\"dsize\":1}]]",
         "line 2, byte 103: the sizes add up to more than 8 EiB", true},
        // Two entries of one name in one directory: both cannot be there.
        {"[1,2,{},[{\"name\":\"x\"},{\"name\":\"f\",\"asize\":1},\n{\"name\":\"f\"}]]",
         "line 2, byte 58: two files of one name in \"x\""},
        {"[1,2,{},[{\"name\":\"x\"},[{\"name\":\"a\"}],{\"name\":\"a\",\"excluded\":\"pattern\"}]]",
         "line 1, byte 70: a file and a subdirectory named \"a\""},
        {"[1,2,{},[{\"name\":\"x\"},{\"name\":\"f\",\"asize\":1,\"asize\":2}]]",
         "line 1, byte 51: a second \"asize\" in one entry"},
        // A value passed over nests 64 levels at most: brackets cost nothing.
        {"{\"x\":" + std::string(64, '[') + std::string(64, ']') + ",\"y\":" + std::string(65, '['),
         "line 1, byte 202: a value nested more than 64 levels deep"},
        {"[1,99,{},[{\"name\":\"x\"}]]",
         "line 1, byte 5: an ncdu export of version 1.99, of which only 1.0 to 1.2 can be read"},
        // Names that are no name of a directory entry.
        {"[1,2,{},[{\"name\":\"x\"},[{\"name\":\"a/b\"}]]]",
         "line 1, byte 36: a name with a path separator in it"},
        {"[1,2,{},[{\"name\":\"x\"},[{\"name\":\"..\"}]]]", "line 1, byte 35: the name \"..\""},
        {"[1,2,{},[{\"name\":\"x\"},{\"name\":\".\"}]]", "line 1, byte 33: the name \".\""},
        {"[1,2,{},[{\"name\":\"x\"},{\"name\":\"\"}]]", "line 1, byte 32: an empty name"},
        {"[1,2,{},[{\"name\":\"x\"},[{\"name\":\"a\\u0000b\"}]]]",
         "line 1, byte 41: a name with a NUL byte in it"},
        {Dir("r/..", 1) + "\n" + Dir("r", 0, {0, 0, 1, 0, 0, 1}),
         "line 1, byte }: the name \"..\""},
        // The escape of a byte stands only for bytes that are not UTF-8 alone.
        {"{\"path\":\"r\\udc2f\",\"depth\":0,\"total_bytes\":0}",
         "line 1, byte 16: \\udc2f, a surrogate that is no character and no byte"},
        // Two directories of one path: the comparison would lose one.
        {"[1,2,{},[{\"name\":\"x\"},[{\"name\":\"a\"}],\n[{\"name\":\"a\"}]]]",
         "line 2, byte 52: two subdirectories named \"a\""},
        {Dir("r/a", 1, {0, 100, 0, 0, 100, 0}) + "\n" + Dir("r/a", 1, {0, 900, 0, 0, 900, 0}) +
             "\n" + Dir("r", 0, {0, 0, 2, 0, 1000, 2}),
         "line 3, byte }: two subdirectories named \"a\""},
        {Dir("r", 0, {0, 1000, 0, 0, 5, 0}),
         "line 1, byte }: the total bytes are less than the directory's own"},
        // Children first: the sums of the subdirectories' lines.
        {Dir("r/a", 1, {0, 1, 0, 0, 1, 0}) + "\n" + Dir("r/b", 1, {0, 2, 0, 0, 2, 0}) + "\n" +
             Dir("r", 0, {0, 0, 2, 0, 50, 2}),
         "line 3, byte }: the total bytes are not the sum of the directory's and its "
         "subdirectories'"},
        {Dir("r/a", 1) + "\n" + Dir("r", 0, {100, 0, 1, 5, 0, 1}),
         "line 2, byte }: the total files are not the sum of the directory's and its "
         "subdirectories'"},
        // Siblings wait for their parent together: they share its path.
        {Dir("r/a", 1) + "\n" + Dir("rr/b", 1) + "\n" + Dir("r", 0, {0, 0, 2, 0, 0, 2}),
         "line 2, byte }: a directory's path does not begin as its sibling's before it"},
        // Parents first: a directory's numbers are checked against its
        // subdirectories' once they are all read, and named at its own line.
        {Dir("r", 0, {1, 0, 1, 5, 0, 1}) + "\n" + Dir("r/a", 1, {2, 0, 0, 2, 0, 0}),
         "line 1, byte }: the total files are not the sum of the directory's and its "
         "subdirectories'"},
        // Some subdirectories left out (a minimum size): at least their sums.
        {Dir("r", 0, {0, 0, 2, 0, 10, 2}) + "\n" + Dir("r/a", 1, {0, 20, 0, 0, 20, 0}),
         "line 1, byte }: the total bytes are less than the sum of the directory's and its "
         "subdirectories'"},
        {Dir("r", 0, {0, 0, 1, 0, 0, 1}) + "\n" + Dir("r/a", 1) + "\n" + Dir("r/b", 1),
         "line 1, byte }: the line counts 1 subdirectories, the lines below it hold 2"},
        // A "more" line names its parent, the directory above it, after its
        // listed subdirectories; never among lines written children first.
        {Dir("r", 0, {0, 0, 2, 0, 0, 2}) + "\n" + Dir("r/a", 1) + "\n" + More("r/a", 1, 1, 0, 0, 1),
         "line 3, byte }: a \"more\" line whose parent is not the directory above it"},
        {Dir("r", 0, {0, 0, 2, 0, 0, 2}) + "\n" + More("r", 1, 1, 0, 0, 1) + "\n" + Dir("r/a", 1),
         "line 3, byte }: a subdirectory after its parent's \"more\" line"},
        {More("r", 1, 1, 0, 0, 1) + "\n" + Dir("r", 0, {0, 0, 1, 0, 0, 1}),
         "line 1, byte }: a \"more\" line among lines written children first"},
        {Dir("r", 0, {0, 0, 3, 0, 0, 3}) + "\n" + More("r", 1, 3, 0, 0, 1),
         "line 2, byte }: a \"more\" line without the files and directories it stands for"},
        // A comparison's rows are not a scan's, though they look alike.
        {"{\"path\":\"r\",\"depth\":0,\"bytes\":0,\"old_bytes\":0,\"total_bytes\":0}",
         "line 1, byte 43: not a saved scan: the JSON Lines of a comparison (--compare); give "
         "the scans it compared"},
    };
    const std::string sep = runtime::PathSeparator() == '\\' ? "\\\\" : "/";
    for (const Row& row : rows) {
        std::string text = row.Text;
        std::string message = row.Message;
        if (text.find('{') < text.find('[')) {
            for (std::size_t at = text.find("r/"); at != std::string::npos;
                 at = text.find("r/", at + 1))
                text.replace(at + 1, 1, sep);
        }
        if (std::size_t at = message.find("byte }"); at != std::string::npos) {
            // The line's place in the text as written, separators included.
            std::size_t line = std::stoul(message.substr(5));
            std::size_t begin = 0;
            for (std::size_t k = 1; k < line; ++k)
                begin = text.find('\n', begin) + 1;
            message.replace(at + 5, 1, std::to_string(text.rfind('}', text.find('\n', begin))));
        }
        SavedScan scan;
        std::string error;
        EXPECT_FALSE(Load(text, scan, error, row.DiskUsage));
        EXPECT_EQ(error, "kelpo32: saved_scan_test.tmp: " + message + "\n") << text;
        EXPECT_TRUE(scan.Tree.Size() == 0);
    }
}

// A gzip file reads as the scan it holds, a kept scan's first line
// included; damaged or truncated compressed data, or a first line out of
// place, is refused by line and byte.
TEST(SavedScanTest, GzipReadsByItsFirstBytesAndItsDamageIsNamed) {
    const std::string lines =
        "{\"recorded\":\"2026-12-10T14:46:38Z\",\"start\":\"/r\",\"fs_size\":100,"
        "\"fs_free\":40}\n{\"path\":\"r\",\"depth\":0,\"files\":1,\"bytes\":7,\"dirs\":0,"
        "\"total_files\":1,\"total_bytes\":7,\"total_dirs\":0}\n";
    const std::string gz = Gzipped(lines);
    SavedScan scan;
    std::string error;
    ASSERT_TRUE(Load(gz, scan, error)) << error;
    EXPECT_EQ(scan.Tree.At(scan.Root).TotalBytes, 7);
    EXPECT_TRUE(scan.Header.Known);
    EXPECT_EQ(scan.Header.Time, 1796913998);
    EXPECT_EQ(scan.Header.Start, "/r");
    EXPECT_EQ((std::pair(scan.Header.FsSize, scan.Header.FsFree)),
              (std::pair<std::int64_t, std::int64_t>(100, 40)));
    // Two members one after the other read as one.
    ASSERT_TRUE(Load(Gzipped(lines.substr(0, 40)) + Gzipped(lines.substr(40)), scan, error))
        << error;

    struct Row {
        std::string Bytes;
        std::string Message; // the end of the message
    };
    std::string flipped = gz;
    flipped[flipped.size() - 6] ^= 0x55; // in the CRC
    const Row rows[] = {
        {gz.substr(0, gz.size() - 4), "truncated: the compressed data ends too soon"},
        {gz.substr(0, 12), "truncated: the compressed data ends too soon"},
        {flipped, "damaged compressed data (incorrect data check)"},
        {gz + "trailing", "damaged compressed data (bytes after its end)"},
        {std::string("\x1f\x8b\x08\x00", 4) + std::string(20, 'x'),
         "damaged compressed data (invalid stored block lengths)"},
        {Gzipped(Dir("r", 0) + "\n{\"recorded\":\"x\"}"),
         "line 2, byte 114: not a time of the form 2026-12-22T08:00:00Z"},
        {Gzipped(Dir("r", 0) + "\n{\"recorded\":\"2026-12-10T14:46:38Z\"}"),
         "line 2, byte 133: a line of when the scan was recorded after the first line"},
        {Gzipped("{\"recorded\":\"2026-02-30T14:46:38Z\"}"),
         "line 1, byte 34: not a time of the form 2026-12-22T08:00:00Z"},
    };
    for (const Row& row : rows) {
        EXPECT_FALSE(Load(row.Bytes, scan, error));
        EXPECT_TRUE(error.starts_with("kelpo32: saved_scan_test.tmp: line ")) << error;
        EXPECT_TRUE(error.ends_with(row.Message + "\n")) << error;
    }
}

} // namespace
} // namespace kelpo32::saved
