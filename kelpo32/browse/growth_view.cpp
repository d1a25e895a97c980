#include "kelpo32/browse/growth_view.h"

#include "kelpo32/output/growth_fields.h"

#include <array>
#include <utility>

namespace kelpo32::browse {

namespace {

constexpr std::array<std::int64_t, 3> Windows = {history::ChangeSpans[0], history::ChangeSpans[1],
                                                 history::ChangeSpans[2]};

} // namespace

GrowthView::GrowthView(Source source, std::int64_t window)
    : source_(std::move(source)), window_(window) {
    Compute();
}

void GrowthView::Compute() {
    active_ = source_ && source_(window_, growth_);
    at_.assign(1, active_ ? growth_.Root : tree::NoDir);
    // Down the same path again, by name.
    std::vector<std::string> names = std::move(names_);
    names_.clear();
    Index();
    for (const std::string& name : names)
        Enter(name);
}

void GrowthView::Index() {
    kids_.clear();
    const tree::DirIndex here = at_.back();
    if (here == tree::NoDir) return;
    for (tree::DirIndex c = growth_.Tree.At(here).First; c != tree::NoDir;
         c = growth_.Tree.At(c).Next)
        if (!growth_.Tree.IsMore(c)) kids_.emplace(growth_.Tree.Name(c), c);
}

void GrowthView::NextWindow() {
    std::size_t next = 0;
    for (std::size_t i = 0; i < Windows.size(); ++i)
        if (Windows[i] > window_) {
            next = i;
            break;
        }
    window_ = window_ >= Windows.back() ? Windows.front() : Windows[next];
    Compute();
}

void GrowthView::Enter(std::string_view name) {
    auto it = kids_.find(name);
    names_.emplace_back(name);
    at_.push_back(it == kids_.end() ? tree::NoDir : it->second);
    Index();
}

void GrowthView::Leave() {
    if (at_.size() < 2) return;
    at_.pop_back();
    names_.pop_back();
    Index();
}

const tree::GrowthCells* GrowthView::Child(std::string_view name) const {
    auto it = kids_.find(name);
    if (it == kids_.end()) return nullptr;
    return &(*growth_.Tree.GrowthIfAny())[it->second];
}

std::string GrowthView::Chart(const tree::GrowthCells& cells, bool unicode,
                              std::size_t width) const {
    return output::Sparkline(output::SeriesOf(growth_.Head, cells.Series), unicode, width);
}

std::string GrowthView::Footer() const {
    if (!active_) return "No growth: the history holds no scan";
    const output::GrowthHead& h = growth_.Head;
    std::string text = "Window: " + output::SpanWords(window_);
    if (h.FsFree < 0 || !h.RateKnown) return text + "  no forecast yet";
    if (h.FullAt < 0) return text + "  not filling";
    return text + "  full in " + output::SpanWords(h.FullAt - h.Now) + " (about " +
           output::ForecastDate(h.FullAt) + ")";
}

} // namespace kelpo32::browse
