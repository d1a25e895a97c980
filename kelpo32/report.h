// The text of every report line: directory lines, depth notices, total lines.
#pragma once

#include "kelpo32/walk.h"

#include <cstdint>
#include <string>

namespace kelpo32 {

std::string GroupThousands(std::int64_t value);

void PrintDirLine(const std::string& path, const std::string& name, std::int32_t level,
                  std::int32_t siblingCount, std::int32_t id, std::int32_t childCount,
                  std::int32_t fileCount, std::int64_t fileBytes);
void PrintTotalLine(const std::string& name, std::int32_t level, std::int64_t total);
void PrintDepthNotice(std::int32_t level);

// The report as the consumer of the walk: which line each directory gets.
void StartReport();
void ReportDirListed(const WalkDir& dir, const WalkListing& listing);
void ReportDirDone(const WalkDir& dir, const WalkListing& listing, std::int64_t total);

} // namespace kelpo32
