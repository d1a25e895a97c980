# The program's layers: each folder is one static library that links only the
# layers below it. A layer's headers reach the code that links it and no
# other: its folder (or its files) is put on their include path through a
# link of its own under layers/ in the build folder, never the source tree's
# root, so that an include from a layer above, one it does not link, names a
# file that is not there and fails the build.
#
#   kelpo32_layer(NAME PATHS path... [SOURCES file...] [LINKS library...]
#                 [PRIVATE_LINKS library...])
#
# PATHS are the folders (or single headers) of the layer, relative to the
# source tree's root; SOURCES are relative to the calling folder; without
# SOURCES the layer is headers alone (an INTERFACE library). A layer's
# PRIVATE_LINKS reach its own sources only, not the layers above it. Every layer is
# also written to layers.txt in the build folder: tools/lint.sh holds every
# source against it, those the build does not compile (the other platform's
# files, headers no one includes) too.
function(kelpo32_layer name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "PATHS;SOURCES;LINKS;PRIVATE_LINKS")
  set(view ${PROJECT_BINARY_DIR}/layers/${name})
  foreach(path ${arg_PATHS})
    get_filename_component(parent ${view}/${path} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${path} ${view}/${path} SYMBOLIC)
  endforeach()
  if(arg_SOURCES)
    add_library(${name} STATIC ${arg_SOURCES})
    target_include_directories(${name} PUBLIC ${view})
    target_link_libraries(${name} PUBLIC ${arg_LINKS} kelpo32_warnings)
    target_link_libraries(${name} PRIVATE ${arg_PRIVATE_LINKS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${view})
    target_link_libraries(${name} INTERFACE ${arg_LINKS})
  endif()
  string(JOIN "," paths ${arg_PATHS})
  get_property(known GLOBAL PROPERTY KELPO32_LAYERS)
  set(links "")
  foreach(link ${arg_LINKS})
    if(link IN_LIST known)
      list(APPEND links ${link})
    endif()
  endforeach()
  foreach(link ${arg_PRIVATE_LINKS})
    if(link IN_LIST known)
      list(APPEND links "${link}:private")
    endif()
  endforeach()
  string(JOIN "," links ${links})
  set_property(GLOBAL APPEND PROPERTY KELPO32_LAYERS ${name})
  set_property(GLOBAL APPEND PROPERTY KELPO32_LAYER_LINES "${name}\t${paths}\t${links}")
endfunction()

# Writes layers.txt: a line per layer, its name, its paths and the layers it
# links (":private" after a private one), tab-separated, lists joined by ",".
function(kelpo32_write_layers)
  get_property(lines GLOBAL PROPERTY KELPO32_LAYER_LINES)
  string(JOIN "\n" text ${lines})
  file(WRITE ${PROJECT_BINARY_DIR}/layers.txt.new "${text}\n")
  file(COPY_FILE ${PROJECT_BINARY_DIR}/layers.txt.new ${PROJECT_BINARY_DIR}/layers.txt
       ONLY_IF_DIFFERENT)
endfunction()
