// The comparison with a saved scan (--compare): the run's walk (or the saved
// scan it reads instead) beside an older saved scan, directory by directory,
// matched by the path below each start directory. Each directory's subtree:
// its bytes now, their change since then and the change of its files; a
// directory only in the new scan is marked "new", one only in the old scan is
// listed with its old numbers and marked "gone". Written in the chosen form:
// text, JSON Lines or TSV.
#pragma once

#include "kelpo32/output/html/html_export.h"
#include "kelpo32/run_options.h"
#include "kelpo32/saved/saved_scan.h"
#include "kelpo32/walk/consumer.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelpo32::tree {

class Comparison final : public walk::WalkConsumer {
  public:
    enum class Mark : std::uint8_t { Both, New, Gone };

    // One directory of either scan, its subdirectories a chain of indices.
    struct Row {
        std::string_view Name; // UTF-8, in the scan it comes from; the start's path at the top
        std::int64_t Now = 0;
        std::int64_t Old = 0;
        std::int64_t NowFiles = 0;
        std::int64_t OldFiles = 0;
        std::int64_t OwnBytes = 0; // now, of the files directly in it
        std::int32_t OwnFiles = 0;
        std::int32_t Level = 0;
        Mark State = Mark::Both;
        std::int32_t First = -1;
        std::int32_t Last = -1;
        std::int32_t Next = -1;
        std::int64_t Change() const { return Now - Old; }
    };

    // Written as `form` says once both scans are known.
    Comparison(const saved::SavedScan& old, const Options& options, TotalsForm form)
        : old_(old), options_(options), form_(form) {}

    void Begin() override;
    void DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) override;
    void DirDone(const walk::WalkDir& dir, const walk::WalkListing& listing,
                 std::int64_t total) override;
    void End() override;
    bool HoldsOutput() const override { return true; }
    // With TotalsForm::Html: what the page's header says of the run.
    void DescribePage(output::html::HtmlRun run) { page_ = std::move(run); }

    // Both scans matched, the rows in the order they are listed (each after
    // its parent, siblings sorted), those --min-change rules out left out.
    std::vector<std::int32_t> Listed();
    const Row& RowAt(std::int32_t i) const { return rows_[static_cast<std::size_t>(i)]; }

  private:
    struct Dir {
        std::string Name;
        std::int64_t Bytes = 0;
        std::int64_t Files = 0;
        std::int64_t OwnBytes = 0;
        std::int32_t OwnFiles = 0;
        std::int32_t First = -1;
        std::int32_t Last = -1;
        std::int32_t Next = -1;
    };

    // Appends `child` to the chain of `parent` (a Dir or a Row).
    template <typename T>
    static void Link(std::vector<T>& all, std::int32_t parent, std::int32_t child) {
        T& p = all[static_cast<std::size_t>(parent)];
        if (p.Last < 0)
            p.First = child;
        else
            all[static_cast<std::size_t>(p.Last)].Next = child;
        p.Last = child;
    }

    void Merge();
    void Write(const std::vector<std::int32_t>& order);
    void WritePage(const std::vector<std::int32_t>& order);

    const saved::SavedScan& old_;
    const Options& options_;
    TotalsForm form_;
    output::html::HtmlRun page_;
    std::vector<Dir> now_;
    std::vector<std::int32_t> open_;
    std::vector<Row> rows_;
};

} // namespace kelpo32::tree
