# The fixed parts of the --format=html page, joined at configure time: the
# markup of kelpo32/output/html/page.html with the style, the page's script and the
# layout library (d3-hierarchy, with its licence) put in their places, split
# where the data goes, and compiled in as two byte arrays. The library is read
# from Debian's node-d3-hierarchy; the Windows build takes the same file.
set(KELPO32_D3_HIERARCHY_JS /usr/share/nodejs/d3-hierarchy/dist/d3-hierarchy.min.js
    CACHE FILEPATH "d3-hierarchy's built script, embedded in the HTML page")
set(KELPO32_D3_HIERARCHY_LICENCE /usr/share/doc/node-d3-hierarchy/copyright
    CACHE FILEPATH "d3-hierarchy's copyright and licence, embedded with it")

set(html_dir ${CMAKE_CURRENT_SOURCE_DIR}/kelpo32/output/html)
set(html_inputs ${html_dir}/page.html ${html_dir}/page.css ${html_dir}/page.js
    ${KELPO32_D3_HIERARCHY_JS} ${KELPO32_D3_HIERARCHY_LICENCE})
foreach(input ${html_inputs})
  if(NOT EXISTS ${input})
    message(FATAL_ERROR "${input} not found: the HTML page needs it "
                        "(install node-d3-hierarchy, or set KELPO32_D3_HIERARCHY_JS)")
  endif()
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${html_inputs})

file(READ ${html_dir}/page.html page)
file(READ ${html_dir}/page.css style)
file(READ ${html_dir}/page.js script)
file(READ ${KELPO32_D3_HIERARCHY_JS} layout)
file(READ ${KELPO32_D3_HIERARCHY_LICENCE} licence)

# Inside a script element nothing may close it or open a comment; the
# licence goes into a block comment.
foreach(part script layout licence)
  string(TOLOWER "${${part}}" lower)
  if(lower MATCHES "</script|<!--|<script")
    message(FATAL_ERROR "the HTML page's ${part} holds text that would end its script element")
  endif()
endforeach()
if(licence MATCHES "\\*/")
  message(FATAL_ERROR "d3-hierarchy's licence text would end its comment")
endif()

string(REPLACE "@PAGE_STYLE@" "${style}" page "${page}")
string(REPLACE "@LAYOUT_LICENCE@" "${licence}" page "${page}")
string(REPLACE "@LAYOUT_SCRIPT@" "${layout}" page "${page}")
string(REPLACE "@PAGE_SCRIPT@" "${script}" page "${page}")
string(FIND "${page}" "@PAGE_DATA@" at)
if(at LESS 0)
  message(FATAL_ERROR "page.html has no @PAGE_DATA@")
endif()
string(SUBSTRING "${page}" 0 ${at} head)
math(EXPR tail_at "${at} + 11")
string(SUBSTRING "${page}" ${tail_at} -1 tail)

set(gen ${CMAKE_CURRENT_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${gen}/kelpo32)
set(assets "// Made by cmake/HtmlPage.cmake from kelpo32/output/html/ and d3-hierarchy.\n")
string(APPEND assets "#include \"kelpo32/output/html/html_assets.h\"\n\nnamespace kelpo32::output::html {\nnamespace {\n")
foreach(part head tail)
  file(WRITE ${gen}/page_${part}.txt "${${part}}")
  file(READ ${gen}/page_${part}.txt hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND assets "constexpr unsigned char Page_${part}[] = {${bytes}};\n")
endforeach()
string(APPEND assets "} // namespace\n\n"
  "std::string_view HtmlPageHead() {\n"
  "    return {reinterpret_cast<const char*>(Page_head), sizeof Page_head};\n}\n"
  "std::string_view HtmlPageTail() {\n"
  "    return {reinterpret_cast<const char*>(Page_tail), sizeof Page_tail};\n}\n"
  "} // namespace kelpo32::output::html\n")
file(WRITE ${gen}/html_assets.cpp.new "${assets}")
file(COPY_FILE ${gen}/html_assets.cpp.new ${gen}/kelpo32/html_assets.cpp ONLY_IF_DIFFERENT)
set(KELPO32_HTML_ASSETS ${gen}/kelpo32/html_assets.cpp)
