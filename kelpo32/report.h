// The text of every report line: directory lines, depth notices, total lines.
#pragma once

#include <cstdint>
#include <string>

namespace kelpo32 {

std::string GroupThousands(std::int64_t value);

void PrintDirLine(const std::string& path, const std::string& name, std::int32_t level,
                  std::int32_t siblingCount, std::int32_t id, std::int32_t childCount,
                  std::int32_t fileCount, std::int64_t fileBytes);
void PrintTotalLine(const std::string& name, std::int32_t level, std::int64_t total);
void PrintDepthNotice(std::int32_t level);

} // namespace kelpo32
