# Installation of the manual page and the release packages: a Debian package of
# the native build (`cpack -G DEB`, or the `package` target) and a .zip of the
# Windows build holding kelpo32.exe and text copies of the licence, the manual
# and the usage notes with CR LF line ends. Both are listed in SHA256SUMS beside
# them. The Windows program gets a version resource and a manifest.
#
# The version comes from project(VERSION) alone; the licence text and the
# copyright line from LICENSE alone.
#
# The file also runs as a script that writes one of those text files:
#   cmake -DIN=source -DOUT=file.txt [-DGROFF=groff] -P Packaging.cmake
# With GROFF the source is a manual page and is rendered as plain text first.
# With VERSION and DATE the manual page's title line gets them (its footer);
# without GROFF the page is then written as it is, with its LF line ends.
if(CMAKE_SCRIPT_MODE_FILE)
  if(VERSION)
    file(READ ${IN} page)
    string(REGEX REPLACE "\n\\.TH KELPO32 1 \"[^\"\n]*\" \"Kelpo32[^\"\n]*\""
           "\n.TH KELPO32 1 \"${DATE}\" \"Kelpo32 ${VERSION}\"" stamped "${page}")
    if(stamped STREQUAL page)
      message(FATAL_ERROR "${IN} has no title line to stamp")
    endif()
    if(NOT GROFF)
      file(WRITE ${OUT} "${stamped}")
      return()
    endif()
    set(IN ${OUT}.stamped)
    file(WRITE ${IN} "${stamped}")
  endif()
  if(GROFF)
    # -P-cbou: plain characters, no overstriking for bold or underline.
    execute_process(
      COMMAND ${GROFF} -Tascii -man -P-cbou -ww ${IN}
      OUTPUT_VARIABLE text
      ERROR_VARIABLE warnings
      RESULT_VARIABLE status)
    if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
      message(FATAL_ERROR "rendering ${IN} failed (${status}):\n${warnings}")
    endif()
  else()
    file(READ ${IN} text)
  endif()
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${OUT} "${text}")
  return()
endif()

include(GNUInstallDirs)

set(packaging_in ${PROJECT_SOURCE_DIR}/packaging)
set(packaging_out ${PROJECT_BINARY_DIR}/packaging)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
if(NOT license MATCHES "(Copyright \\(c\\) ([^\n]+))")
  message(FATAL_ERROR "LICENSE has no copyright line")
endif()
set(KELPO32_COPYRIGHT_LINE ${CMAKE_MATCH_1})
set(KELPO32_COPYRIGHT ${CMAKE_MATCH_2})
set(KELPO32_FILE_DESCRIPTION "Kelpo32 directory tree report")

# Dates in the packages: SOURCE_DATE_EPOCH when set, else the time of the
# last commit, so that two builds of one commit make the same package.
set(saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
find_package(Git QUIET)
if(saved_epoch STREQUAL "" AND GIT_FOUND)
  execute_process(
    COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    OUTPUT_VARIABLE commit_time
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(commit_time MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} ${commit_time})
  endif()
endif()
string(TIMESTAMP KELPO32_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP KELPO32_MANUAL_DATE "%Y-%m-%d" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${saved_epoch}")
# The manual page's footer: the project's version and that date.
set(KELPO32_MANUAL_STAMP -DVERSION=${PROJECT_VERSION} -DDATE=${KELPO32_MANUAL_DATE})

set(CPACK_PACKAGE_NAME kelpo32)
set(CPACK_PACKAGE_VENDOR "Kelpo32")
set(CPACK_PACKAGE_CONTACT
    "Kelpo32 maintainers <maintainers@users.noreply.c-seed-4d41e887.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "print the directory tree below a directory, with file counts and sizes")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Kelpo32 prints one line per directory of a tree, drawn with tree branches,"
  "with the number of files directly in each directory and the sum of their"
  "sizes, and after the subdirectories of a directory a total line for its"
  "whole subtree. On a terminal it pages and colours the report; redirected"
  "to a file or a pipe, it writes plain lines of a fixed width.")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build/" "/build-[^/]*/" "/out/" "\\\\.swp$")

if(WIN32)
  # The .zip is flat: the program and its two text files side by side, so it
  # holds its own component, outside a plain `cmake --install`.
  find_program(KELPO32_GROFF groff)
  set(text_dir ${PROJECT_BINARY_DIR}/package-text)
  set(manual_txt ${text_dir}/MANUAL.TXT)
  set(usage_txt ${text_dir}/USAGE.TXT)
  set(license_txt ${text_dir}/LICENSE.TXT)
  set(text_files ${license_txt} ${usage_txt})
  add_custom_command(
    OUTPUT ${license_txt}
    COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_SOURCE_DIR}/LICENSE -DOUT=${license_txt}
            -P ${CMAKE_CURRENT_LIST_FILE}
    DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_CURRENT_LIST_FILE}
    COMMENT "Writing LICENSE.TXT")
  add_custom_command(
    OUTPUT ${usage_txt}
    COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_SOURCE_DIR}/docs/USAGE.md -DOUT=${usage_txt}
            -P ${CMAKE_CURRENT_LIST_FILE}
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/USAGE.md ${CMAKE_CURRENT_LIST_FILE}
    COMMENT "Writing USAGE.TXT")
  if(KELPO32_GROFF)
    list(APPEND text_files ${manual_txt})
    add_custom_command(
      OUTPUT ${manual_txt}
      COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_SOURCE_DIR}/docs/kelpo32.1 -DOUT=${manual_txt}
              -DGROFF=${KELPO32_GROFF} ${KELPO32_MANUAL_STAMP} -P ${CMAKE_CURRENT_LIST_FILE}
      DEPENDS ${PROJECT_SOURCE_DIR}/docs/kelpo32.1 ${CMAKE_CURRENT_LIST_FILE}
      COMMENT "Rendering the manual page as MANUAL.TXT")
  else()
    message(WARNING "groff not found: the .zip will lack MANUAL.TXT")
  endif()
  add_custom_target(kelpo32_package_text ALL DEPENDS ${text_files})

  # Version resource and manifest, compiled by windres. They live in a target
  # of their own so that the C++ warning flags never reach the resource
  # compiler.
  enable_language(RC)
  string(REPLACE "." "," KELPO32_VERSION_COMMAS "${PROJECT_VERSION}.0")
  set(KELPO32_VERSION4 "${PROJECT_VERSION}.0")
  set(KELPO32_MANIFEST ${packaging_out}/kelpo32.manifest)
  configure_file(${packaging_in}/kelpo32.manifest.in ${KELPO32_MANIFEST} @ONLY)
  configure_file(${packaging_in}/kelpo32.rc.in ${packaging_out}/kelpo32.rc @ONLY)
  set_source_files_properties(${packaging_out}/kelpo32.rc PROPERTIES OBJECT_DEPENDS
                                                                     ${KELPO32_MANIFEST})
  add_library(kelpo32_resources OBJECT ${packaging_out}/kelpo32.rc)
  target_link_libraries(kelpo32 PRIVATE kelpo32_resources)

  install(TARGETS kelpo32 RUNTIME DESTINATION . COMPONENT windows_zip EXCLUDE_FROM_ALL)
  install(FILES ${text_files} DESTINATION . COMPONENT windows_zip EXCLUDE_FROM_ALL)

  set(CPACK_GENERATOR ZIP)
  # The 64-bit build carries the tests only; its .zip must not pass for the
  # 32-bit one.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
  set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};windows_zip;/")
else()
  # The manual page and the Debian changelog compressed as Debian wants them:
  # gzip -9 without name or time stamp, so equal input gives equal bytes.
  find_program(KELPO32_GZIP gzip REQUIRED)
  configure_file(${packaging_in}/changelog.in ${packaging_out}/in/changelog @ONLY)
  # The licence text as a DEP-5 paragraph: indented by one blank, "." for an
  # empty line.
  string(FIND "${license}" "Permission is hereby granted" start)
  string(SUBSTRING "${license}" ${start} -1 text)
  string(STRIP "${text}" text)
  string(REPLACE "\n\n" "\n.\n" text "${text}")
  string(REPLACE "\n" "\n " text "${text}")
  set(KELPO32_LICENSE_TEXT " ${text}")
  # The layout library that the HTML page carries, with its licence paragraph
  # (already in DEP-5 form) from its own copyright file.
  file(READ ${KELPO32_D3_HIERARCHY_LICENCE} d3)
  string(FIND "${d3}" "\n Redistribution and use" start)
  if(start LESS 0)
    message(FATAL_ERROR "${KELPO32_D3_HIERARCHY_LICENCE} has no licence text")
  endif()
  math(EXPR start "${start} + 1")
  string(SUBSTRING "${d3}" ${start} -1 d3)
  string(STRIP "${d3}" d3)
  set(KELPO32_D3_LICENCE_TEXT " ${d3}")
  configure_file(${packaging_in}/copyright.in ${packaging_out}/copyright @ONLY)

  set(docs)
  foreach(in ${PROJECT_SOURCE_DIR}/docs/kelpo32.1 ${packaging_out}/in/changelog)
    get_filename_component(name ${in} NAME)
    set(copy ${CMAKE_COMMAND} -E copy ${in} ${packaging_out}/${name})
    if(name STREQUAL "kelpo32.1")
      set(copy ${CMAKE_COMMAND} -DIN=${in} -DOUT=${packaging_out}/${name} ${KELPO32_MANUAL_STAMP}
               -P ${CMAKE_CURRENT_LIST_FILE})
    endif()
    add_custom_command(
      OUTPUT ${packaging_out}/${name}.gz
      COMMAND ${copy}
      COMMAND ${KELPO32_GZIP} -9nf ${packaging_out}/${name}
      DEPENDS ${in} ${CMAKE_CURRENT_LIST_FILE}
      COMMENT "Compressing ${name}")
    list(APPEND docs ${packaging_out}/${name}.gz)
  endforeach()
  add_custom_target(kelpo32_package_docs ALL DEPENDS ${docs})

  install(FILES ${packaging_out}/kelpo32.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${packaging_out}/changelog.gz ${packaging_out}/copyright
          DESTINATION ${CMAKE_INSTALL_DOCDIR})

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  find_program(KELPO32_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(KELPO32_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, libncursesw6, zlib1g")
  endif()
endif()

set(CPACK_POST_BUILD_SCRIPTS ${packaging_in}/sha256sums.cmake)

include(CPack)
