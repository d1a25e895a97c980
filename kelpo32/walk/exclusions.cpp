// Which entries the patterns of --exclude leave out, as a lister reads
// them: by name, and with patterns of paths by the path the report writes.
#include "kelpo32/walk/lister.h"

#include <vector>

namespace kelpo32::walk {

// The path of `node` from the start directory's text, each name followed by
// the separator, as the walk writes it.
void Listing::PathOf(const Dir_Rec* node, Lister& lister) const {
    std::vector<const Dir_Rec*> chain;
    for (const Dir_Rec* n = node; n != walk_.Root && n != nullptr; n = n->Parent)
        chain.push_back(n);
    const char separator = runtime::PathSeparator();
    std::string& path = lister.path_;
    path = walk_.RootPath;
    if (!path.empty() && path.back() != separator) path += separator;
    lister.below_ = path.size();
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        path.append((*it)->Name).append(1, separator);
}

bool Listing::Excluded(Lister& lister) const {
    const runtime::NamePatterns* exclude = walk_.Options.Exclude;
    if (exclude == nullptr) return false;
    const runtime::DirEntry& e = lister.entry_;
    bool directory = (e.Attr & runtime::AttrDirectory) != 0;
    if (exclude->Match(e.Name, directory)) return true;
    if (!exclude->HasPaths()) return false;
    // The directory's path stays; only the entry's name changes after it.
    const std::size_t base = lister.path_.size();
    lister.path_ += e.Name;
    bool matched = exclude->MatchPath(lister.path_, lister.below_, directory);
    lister.path_.resize(base);
    return matched;
}

} // namespace kelpo32::walk
