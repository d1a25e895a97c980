#include "kelpo32/app/source.h"

#include "kelpo32/saved/saved_scan.h"

namespace kelpo32 {

std::unique_ptr<walk::WalkConsumer>
RunSource::Feed(std::unique_ptr<tree::TreeReader> layout) const {
    if (saved_ != nullptr) return std::make_unique<saved::WholeTree>(*saved_, std::move(layout));
    return std::make_unique<tree::BuiltTree>(std::move(layout));
}

std::unique_ptr<walk::WalkConsumer>
RunSource::Stream(std::unique_ptr<tree::TreeReader> layout) const {
    if (saved_ != nullptr)
        return std::make_unique<saved::WholeTree>(*saved_, std::move(layout), false);
    return std::make_unique<tree::EventsOnly>(std::move(layout));
}

std::int64_t RunSource::Run(walk::WalkConsumer& consumer) const {
    if (saved_ != nullptr) return saved::ReplaySavedScan(*saved_, start_.Text, consumer);
    return walk::WalkTree(start_.Text, start_.Native, walk_, consumer);
}

} // namespace kelpo32
