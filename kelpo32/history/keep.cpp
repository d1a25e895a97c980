#include "kelpo32/history/keep.h"

#include "kelpo32/saved/scan_time.h"

#include <charconv>
#include <map>
#include <utility>

namespace kelpo32::history {

namespace {

constexpr std::string_view Prefix = "kelpo32-scan-";
constexpr std::string_view Extension = ".jsonl.gz";
constexpr std::int64_t Hour = 3600;
constexpr std::int64_t Day = 24 * Hour;

struct Unit {
    char Letter;
    std::int64_t Seconds;
};
constexpr Unit Units[] = {
    {'y', 365 * Day}, {'m', 30 * Day}, {'w', 7 * Day}, {'d', Day}, {'h', Hour}};

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0);
}

// "20261210T144638Z" from "2026-12-10T14:46:38Z" and back.
std::string Compact(std::string_view utc) {
    std::string out;
    for (char c : utc)
        if (c != '-' && c != ':') out += c;
    return out;
}

} // namespace

std::string KeptName(std::int64_t time, int second) {
    std::string name(Prefix);
    name += Compact(saved::UtcText(time));
    if (second > 1) name.append("-").append(std::to_string(second));
    return name.append(Extension);
}

bool ParseKeptName(std::string_view name, std::int64_t& time, int* second) {
    if (!name.starts_with(Prefix) || !name.ends_with(Extension)) return false;
    std::string_view stamp =
        name.substr(Prefix.size(), name.size() - Prefix.size() - Extension.size());
    if (stamp.size() > 16) {
        // A second scan of the same second: "-N".
        std::string_view count = stamp.substr(16);
        int n = 0;
        if (count.size() < 2 || count[0] != '-' || count[1] == '0') return false;
        auto res = std::from_chars(count.data() + 1, count.data() + count.size(), n);
        if (res.ec != std::errc() || res.ptr != count.data() + count.size() || n < 2) return false;
        stamp = stamp.substr(0, 16);
        if (second != nullptr) *second = n;
    }
    if (stamp.size() != 16) return false;
    if (second != nullptr && name.size() == Prefix.size() + 16 + Extension.size()) *second = 1;
    // YYYYMMDDTHHMMSSZ
    std::string utc;
    utc.append(stamp.substr(0, 4)).append("-").append(stamp.substr(4, 2)).append("-");
    utc.append(stamp.substr(6, 3)).append(stamp.substr(9, 2)).append(":");
    utc.append(stamp.substr(11, 2)).append(":").append(stamp.substr(13, 3));
    return saved::ParseUtc(utc, time);
}

bool OurTemporary(std::string_view name) {
    std::size_t at = name.find(Extension);
    std::int64_t time = 0;
    return at != std::string_view::npos && name.ends_with(".tmp") &&
           ParseKeptName(name.substr(0, at + Extension.size()), time);
}

bool ParseSpan(std::string_view text, std::int64_t& seconds) {
    if (text.size() < 2) return false;
    std::int64_t n = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size() - 1, n);
    if (res.ec != std::errc() || res.ptr != text.data() + text.size() - 1 || n < 1) return false;
    for (const Unit& u : Units)
        if (u.Letter == text.back()) {
            if (n > std::int64_t{10000} * 365 * Day / u.Seconds) return false;
            seconds = n * u.Seconds;
            return true;
        }
    return false;
}

std::string SpanText(std::int64_t seconds) {
    // Weeks, days and hours: "60d" stays 60 days, not "2m".
    for (const Unit& u : Units)
        if (u.Letter != 'y' && u.Letter != 'm' && seconds % u.Seconds == 0)
            return std::to_string(seconds / u.Seconds) + u.Letter;
    return std::to_string(seconds) + "s";
}

KeepRule DefaultKeep() {
    return {{{Hour, 2 * Day}, {Day, 60 * Day}, {7 * Day, -1}}};
}

bool ParseKeep(std::string_view text, KeepRule& rule) {
    rule.Tiers.clear();
    if (text == "all") return true;
    while (!text.empty()) {
        std::size_t comma = text.find(',');
        std::string_view tier = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        if (comma != std::string_view::npos && text.empty()) return false;
        if (!rule.Tiers.empty() && rule.Tiers.back().For < 0) return false; // after "for ever"
        KeepTier t;
        std::size_t colon = tier.find(':');
        if (!ParseSpan(tier.substr(0, colon), t.Every)) return false;
        if (colon != std::string_view::npos && !ParseSpan(tier.substr(colon + 1), t.For))
            return false;
        rule.Tiers.push_back(t);
    }
    return !rule.Tiers.empty();
}

std::string KeepText(const KeepRule& rule) {
    if (rule.Tiers.empty()) return "all";
    std::string text;
    for (const KeepTier& t : rule.Tiers) {
        if (!text.empty()) text += ',';
        text += SpanText(t.Every);
        if (t.For >= 0) text.append(":").append(SpanText(t.For));
    }
    return text;
}

std::vector<bool> Rotate(std::span<const std::int64_t> times, std::int64_t now,
                         const KeepRule& rule) {
    std::vector<bool> keep(times.size(), rule.Tiers.empty());
    if (times.empty() || rule.Tiers.empty()) return keep;
    keep.back() = true;
    // Each tier's interval that already holds its oldest scan.
    std::map<std::pair<std::size_t, std::int64_t>, bool> taken;
    for (std::size_t i = 0; i < times.size(); ++i) {
        const std::int64_t age = now - times[i];
        if (age < 0) {
            keep[i] = true;
            continue;
        }
        std::int64_t start = 0;
        for (std::size_t t = 0; t < rule.Tiers.size(); ++t) {
            const KeepTier& tier = rule.Tiers[t];
            if (tier.For >= 0 && age >= start + tier.For) {
                start += tier.For;
                continue;
            }
            if (taken.emplace(std::pair(t, FloorDiv(times[i], tier.Every)), true).second)
                keep[i] = true;
            break;
        }
    }
    return keep;
}

} // namespace kelpo32::history
