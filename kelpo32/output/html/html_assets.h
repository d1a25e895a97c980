// The fixed parts of the HTML page: markup, style, the page's script and the
// layout library with its licence, joined at build time (cmake/HtmlPage.cmake)
// from kelpo32/output/html/. The page's data goes between them.
#pragma once

#include <string_view>

namespace kelpo32::output::html {

// Everything before the data: up to the opening of the data's script element.
std::string_view HtmlPageHead();
// Everything after it, from the closing of that element.
std::string_view HtmlPageTail();

} // namespace kelpo32::output::html
