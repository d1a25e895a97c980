#include "kelpo32/output/html/html_export.h"

#include "kelpo32/output/fields.h"
#include "kelpo32/output/html/html_assets.h"
#include "kelpo32/output/jsontext.h"

#include <charconv>

namespace kelpo32::output::html {

namespace {

// Written to the output in pieces of about this size.
constexpr std::size_t ChunkSize = std::size_t{64} * 1024;

// The page's script keeps numbers as doubles.
void Number(std::string& out, std::int64_t value) {
    AppendNumber(out, value, NumberForm::Double);
}

// A JSON string that is safe inside the page's script element: "<" as
// \u003c, so that no name can close the element or open a comment in it.
void AppendString(std::string& out, std::string_view bytes) {
    std::size_t from = out.size();
    out += '"';
    AppendJsonString(out, bytes, true);
    out += '"';
    if (out.find('<', from) == std::string::npos) return;
    std::string text = out.substr(from);
    out.resize(from);
    for (char c : text)
        if (c == '<')
            out += "\\u003c";
        else
            out += c;
}

void AppendRunData(std::string& out, const HtmlRun& run, std::size_t shown) {
    out += "{\"start\":";
    AppendString(out, run.StartPath);
    out += ",\"sep\":";
    AppendString(out, std::string_view(&run.Separator, 1));
    out += ",\"time\":";
    AppendString(out, run.ScanTime);
    out += ",\"options\":[";
    for (std::size_t i = 0; i < run.Options.size(); ++i) {
        if (i > 0) out += ',';
        AppendString(out, run.Options[i]);
    }
    out += "],\"dirs\":";
    Number(out, run.TotalDirs);
    out += ",\"shown\":";
    Number(out, static_cast<std::int64_t>(shown));
    out += ",\"cap\":";
    Number(out, static_cast<std::int64_t>(run.Cap));
    out += ",\"foldedSmall\":";
    Number(out, run.FoldedSmall);
    out += ",\"foldedDeep\":";
    Number(out, run.FoldedDeep);
    out += ",\"depthLimit\":";
    Number(out, run.DepthLimit);
    out += ",\"unread\":";
    Number(out, run.Unread);
    out += ",\"unreadNamed\":[";
    for (std::size_t i = 0; i < run.UnreadNamed.size(); ++i) {
        out += i > 0 ? ",[" : "[";
        AppendString(out, run.UnreadNamed[i].first);
        out += ',';
        AppendString(out, run.UnreadNamed[i].second);
        out += ']';
    }
    out += "]";
    if (run.Compare) {
        out += ",\"compare\":true,\"oldStart\":";
        AppendString(out, run.OldStart);
    }
    if (run.Growth) {
        out += ",\"growth\":true,\"forecast\":";
        AppendString(out, run.Forecast);
    }
    out += ",\"d\":[";
}

// One directory: [parent, name, files, bytes, total files, total bytes,
// folded, problem?]; in a comparison [..., problem, change, state]; in a
// growth [..., state, rate per day or null, chart].
void AppendDir(std::string& out, const HtmlDir& d, bool compare, bool growth) {
    out += '[';
    Number(out, d.Parent);
    out += ',';
    AppendString(out, d.Name);
    for (std::int64_t n : {d.Files, d.Bytes, d.TotalFiles, d.TotalBytes, d.Folded}) {
        out += ',';
        Number(out, n);
    }
    if (!d.Problem.empty() || compare) {
        out += ',';
        AppendString(out, d.Problem);
    }
    if (compare) {
        out += ',';
        Number(out, d.Change);
        out += ',';
        AppendString(out, d.State);
    }
    if (growth) {
        out += ',';
        if (d.Rated)
            Number(out, d.Rate);
        else
            out += "null";
        out += ',';
        AppendString(out, d.Chart);
    }
    out += ']';
}

} // namespace

void WriteHtmlPage(runtime::TextOut& out, const HtmlRun& run, const std::vector<HtmlDir>& dirs) {
    out.Write(HtmlPageHead());
    std::string data;
    AppendRunData(data, run, dirs.size());
    for (std::size_t i = 0; i < dirs.size(); ++i) {
        if (i > 0) data += ',';
        AppendDir(data, dirs[i], run.Compare, run.Growth);
        if (data.size() >= ChunkSize) {
            out.Write(data);
            data.clear();
        }
    }
    data += "]}";
    out.Write(data);
    out.Write(HtmlPageTail());
}

std::string HtmlTimeStamp(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    auto seconds = floor<std::chrono::seconds>(when);
    auto day = floor<days>(seconds);
    year_month_day date(day);
    hh_mm_ss time(seconds - day);
    char text[32];
    auto two = [](char* at, long value) {
        at[0] = static_cast<char>('0' + value / 10 % 10);
        at[1] = static_cast<char>('0' + value % 10);
    };
    auto res = std::to_chars(text, text + 8, static_cast<int>(date.year()));
    char* p = res.ptr;
    *p++ = '-';
    two(p, static_cast<long>(static_cast<unsigned>(date.month())));
    p += 2;
    *p++ = '-';
    two(p, static_cast<long>(static_cast<unsigned>(date.day())));
    p += 2;
    *p++ = 'T';
    for (long part :
         {static_cast<long>(time.hours().count()), static_cast<long>(time.minutes().count()),
          static_cast<long>(time.seconds().count())}) {
        two(p, part);
        p += 2;
        *p++ = ':';
    }
    p[-1] = 'Z';
    return std::string(text, p);
}

} // namespace kelpo32::output::html
