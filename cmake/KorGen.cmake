# kortypes_generated_library(TARGET SCHEMA_DIR dir OUT_DIR dir
#                            [SOURCES src...] [INCLUDE_DIRS dir...] [EXCLUDE_FROM_ALL])
#
# A shared library of bindings generated from the catalogue schema in
# SCHEMA_DIR. korgen turns the catalogue into one header per type and module
# and a few numbered sources per module under OUT_DIR (OUT_DIR/include and
# OUT_DIR/src); the sources build in parallel and are rewritten only when their
# content changes, so editing one module rebuilds little beyond it. SOURCES
# (hand-written) and INCLUDE_DIRS (their public headers) are added to the
# library. Every library made here is compiled and linked the same way, so
# measurements of one carry over to the others. Also defines TARGET-generate,
# which runs the generator alone.
#
# Uses KORTYPES_CHUNK_TYPES (types per generated source file).
set(KORGEN_DIR ${PROJECT_SOURCE_DIR}/tools/korgen)

function(kortypes_generated_library target)
  cmake_parse_arguments(ARG "EXCLUDE_FROM_ALL" "SCHEMA_DIR;OUT_DIR" "SOURCES;INCLUDE_DIRS" ${ARGN})
  if(NOT ARG_SCHEMA_DIR OR NOT ARG_OUT_DIR)
    message(FATAL_ERROR "kortypes_generated_library(${target}) needs SCHEMA_DIR and OUT_DIR")
  endif()
  set(gen_dir ${ARG_OUT_DIR})

  file(GLOB schema_files CONFIGURE_DEPENDS ${ARG_SCHEMA_DIR}/*.schema ${ARG_SCHEMA_DIR}/*.catalogue)
  file(GLOB_RECURSE korgen_files CONFIGURE_DEPENDS ${KORGEN_DIR}/korgen/*.py)
  # The set of generated files follows the schema, so a schema edit reconfigures.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${schema_files} ${korgen_files})

  set(korgen ${Python3_EXECUTABLE} -m korgen --schema ${ARG_SCHEMA_DIR} --out ${gen_dir}
             --chunk-types ${KORTYPES_CHUNK_TYPES})
  execute_process(COMMAND ${korgen} --list-outputs
                  WORKING_DIRECTORY ${KORGEN_DIR}
                  OUTPUT_VARIABLE gen_outputs ERROR_VARIABLE gen_errors RESULT_VARIABLE gen_result)
  if(NOT gen_result EQUAL 0)
    message(FATAL_ERROR "The catalogue schema in ${ARG_SCHEMA_DIR} has errors:\n${gen_errors}")
  endif()
  string(REPLACE "\n" ";" gen_outputs "${gen_outputs}")
  list(FILTER gen_outputs INCLUDE REGEX ".")
  set(gen_sources ${gen_outputs})
  list(FILTER gen_sources INCLUDE REGEX "\\.cpp$")

  add_custom_command(
    OUTPUT ${gen_outputs}
    COMMAND ${korgen}
    WORKING_DIRECTORY ${KORGEN_DIR}
    DEPENDS ${schema_files} ${korgen_files}
    COMMENT "Generating ${target} bindings from the catalogue schema"
    VERBATIM)
  add_custom_target(${target}-generate DEPENDS ${gen_outputs})

  set(exclude)
  if(ARG_EXCLUDE_FROM_ALL)
    set(exclude EXCLUDE_FROM_ALL)
  endif()
  add_library(${target} SHARED ${exclude} ${gen_sources} ${ARG_SOURCES})
  set(public_includes $<BUILD_INTERFACE:${gen_dir}/include>)
  foreach(dir IN LISTS ARG_INCLUDE_DIRS)
    list(APPEND public_includes $<BUILD_INTERFACE:${dir}>)
  endforeach()
  target_include_directories(${target}
    PUBLIC ${public_includes} $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>
    PRIVATE ${gen_dir}/src)
  target_link_libraries(${target} PUBLIC movel)
  # References inside the library (calls, vtable entries, type information)
  # bind to its own definitions at link time, which leaves the dynamic loader
  # few symbols to look up; only the type records and method-object arrays
  # stay interposable, since programs may hold copies of them. Only the API
  # is exported; relative relocations, most of what is left for the loader,
  # are packed.
  set(interposable ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/kortypes-interposable.list)
  set(exports ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/kortypes-exports.map)
  target_link_options(${target} PRIVATE LINKER:--dynamic-list=${interposable}
                      LINKER:--version-script=${exports} LINKER:-z,pack-relative-relocs)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${interposable} ${exports})
  set_target_properties(${target} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  # Generated code: warnings on, but not as errors. It is thousands of small
  # functions, most of them one-line entries into the runtime's table-driven
  # code: optimised for size, which keeps the library about a seventh smaller
  # than -O1 for no measurable loss of speed.
  # Every generated source starts with the same runtime headers: parse them once.
  target_precompile_headers(${target} PRIVATE <movel/movel.h> <string> <vector> <atomic>)
  target_compile_options(${target} PRIVATE -Wall -Wno-unused-parameter
                         $<$<CONFIG:Release>:-Os>)
endfunction()
