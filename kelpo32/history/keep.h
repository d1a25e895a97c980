// Which scans a history keeps: the names of its files, the spans of time
// its options take ("7d"), the rule of --history-keep and the rotation that
// follows it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelpo32::history {

// A kept scan's file: "kelpo32-scan-20261210T144638Z.jsonl.gz", its UTC
// time; a second scan of the same second takes "-2" and so on before the
// extension. The prefix says the file is the history's own: no other file
// of the directory is ever removed.
std::string KeptName(std::int64_t time, int second = 1);
// The time in the name of one of ours (and, when asked, which scan of that
// second it is: 1, or N of "-N"); false for any other name.
bool ParseKeptName(std::string_view name, std::int64_t& time, int* second = nullptr);
// A temporary file of ours that a run stopped before renaming it.
bool OurTemporary(std::string_view name);

// A span: a whole number and a unit, h (hours), d (days), w (weeks), m
// (months of 30 days) or y (years of 365 days): "36h", "7d", "6m".
bool ParseSpan(std::string_view text, std::int64_t& seconds);
// The span in weeks, days or hours, the largest that divides it ("2w",
// "60d", "36h").
std::string SpanText(std::int64_t seconds);

// One tier of the rule: one scan per Every (UTC-aligned), for the For
// after the tier before it ends (-1: for ever).
struct KeepTier {
    std::int64_t Every = 0;
    std::int64_t For = -1;
};

// --history-keep=EVERY:FOR,...[,EVERY]: "1h:2d,1d:60d,1w" (the default)
// keeps one scan per hour for two days, one per day for 60 days after
// those, one per week after that; a rule whose last tier has a FOR forgets
// what is older. "all" keeps every scan.
struct KeepRule {
    std::vector<KeepTier> Tiers; // empty: every scan is kept
};
KeepRule DefaultKeep();
bool ParseKeep(std::string_view text, KeepRule& rule);
std::string KeepText(const KeepRule& rule);

// Which of the scans at `times` (oldest first) to keep at `now`: the
// newest always; of each tier's intervals the oldest scan in it; a scan
// dated after `now` (a clock set back) is kept, as nothing tells its age.
std::vector<bool> Rotate(std::span<const std::int64_t> times, std::int64_t now,
                         const KeepRule& rule);

} // namespace kelpo32::history
