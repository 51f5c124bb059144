# Build conventions shared by every module.

option(QUILLORY_SANITIZE "Build with AddressSanitizer and UBSan" ON)
option(QUILLORY_FUZZ "Build libFuzzer targets (needs clang)" OFF)

set(QUILLORY_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}/quillory"
    CACHE PATH "Directory the module loader searches last")

if(QUILLORY_FUZZ AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "QUILLORY_FUZZ needs clang++")
endif()

set(QUILLORY_SANITIZER_FLAGS "")
if(QUILLORY_SANITIZE AND CMAKE_BUILD_TYPE STREQUAL "Debug")
  set(QUILLORY_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
endif()
if(QUILLORY_FUZZ)
  set(QUILLORY_SANITIZER_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
endif()
add_compile_options(${QUILLORY_SANITIZER_FLAGS})
if(QUILLORY_SANITIZER_FLAGS)
  add_link_options(-fsanitize=address,undefined)
endif()

# Warnings as errors on our own code (third-party headers come in as system headers).
function(quillory_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror -Wno-unused-parameter
    $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local> $<$<CXX_COMPILER_ID:Clang>:-Wshadow-uncaptured-local>
    # GCC 12's optimiser reports impossible overlaps and bounds inside libstdc++'s
    # containers (known false positives); the Debug build keeps the rest fatal.
    $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>
    $<$<AND:$<CXX_COMPILER_ID:GNU>,$<NOT:$<CONFIG:Debug>>>:-Wno-error=array-bounds>
    $<$<AND:$<CXX_COMPILER_ID:GNU>,$<NOT:$<CONFIG:Debug>>>:-Wno-error=stringop-overflow>
    $<$<AND:$<CXX_COMPILER_ID:GNU>,$<NOT:$<CONFIG:Debug>>>:-Wno-error=free-nonheap-object>)
endfunction()

# A library of ours. Platform libraries export everything; deliverables hide all
# but their extern "C" entry points.
function(quillory_library target kind)
  add_library(${target} ${kind} ${ARGN})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  quillory_warnings(${target})
endfunction()

# quillory_test(NAME sources... LIBS libs...)
function(quillory_test name)
  if(QUILLORY_FUZZ)
    return()
  endif()
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  quillory_warnings(${name})
  # Tests find the build's programs and libraries through these.
  target_compile_definitions(${name} PRIVATE
    QUILLORY_BUILD_LIBDIR="${PROJECT_BINARY_DIR}/lib" QUILLORY_BUILD_BINDIR="${PROJECT_BINARY_DIR}/bin")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
endfunction()

# quillory_fuzzer(NAME sources... LIBS libs...) — only in a QUILLORY_FUZZ build.
function(quillory_fuzzer name)
  if(NOT QUILLORY_FUZZ)
    return()
  endif()
  cmake_parse_arguments(F "" "" "LIBS" ${ARGN})
  add_executable(${name} ${F_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  quillory_warnings(${name})
  if(NOT TARGET fuzzers)
    add_custom_target(fuzzers)
  endif()
  add_dependencies(fuzzers ${name})
endfunction()

# quillory_benchmark(NAME sources... LIBS libs...) — when Google Benchmark is present.
function(quillory_benchmark name)
  if(NOT benchmark_FOUND OR QUILLORY_FUZZ)
    return()
  endif()
  cmake_parse_arguments(B "" "" "LIBS" ${ARGN})
  add_executable(${name} ${B_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  quillory_warnings(${name})
endfunction()

# quillory_string_tables(LANGUAGES NAME:CHARSET:DIR...) — once, in common/.
# Generates the STRTABLE blob of every user-interface language from its UTF-8
# string lists (cmake/quillory_strtable.cpp) into build/strtables/NAME; the
# first language is the reference every other must match id for id.
function(quillory_string_tables)
  cmake_parse_arguments(S "" "" "LANGUAGES" ${ARGN})
  set(outdir ${PROJECT_BINARY_DIR}/strtables)
  add_executable(quillory_strtable ${PROJECT_SOURCE_DIR}/cmake/quillory_strtable.cpp
    ${PROJECT_SOURCE_DIR}/common/codepage.cpp ${PROJECT_SOURCE_DIR}/common/strtable_format.cpp)
  target_include_directories(quillory_strtable PRIVATE ${PROJECT_SOURCE_DIR})
  set_target_properties(quillory_strtable PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tools)
  quillory_warnings(quillory_strtable)
  set(args "")
  set(outputs "")
  set(deps "")
  set(names "")
  foreach(lang IN LISTS S_LANGUAGES)
    string(REPLACE ":" ";" parts "${lang}")
    list(GET parts 0 name)
    list(GET parts 1 charset)
    list(GET parts 2 dir)
    get_filename_component(dir "${dir}" ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    file(GLOB lists CONFIGURE_DEPENDS ${dir}/*.strings)
    list(APPEND args "${name}:${charset}:${dir}")
    list(APPEND outputs ${outdir}/${name})
    list(APPEND deps ${lists})
    list(APPEND names ${name})
  endforeach()
  add_custom_command(OUTPUT ${outputs}
    COMMAND quillory_strtable ${outdir} ${args}
    DEPENDS quillory_strtable ${deps}
    COMMENT "Generating the string tables"
    VERBATIM)
  add_custom_target(quillory_strtables DEPENDS ${outputs})
  set_property(GLOBAL PROPERTY QUILLORY_STRTABLE_NAMES ${names})
  set_property(GLOBAL PROPERTY QUILLORY_STRTABLE_DIR ${outdir})
endfunction()

# quillory_embed_resources(target OUTPUT file.cpp [DATA type name file]... [STRINGS file]...
#                          [STRTABLES])
# Generates the target's resource table (platform/base/resource.h) from data
# files (type and name: a decimal id or a name) and string lists ("ID TEXT"
# lines, see cmake/quillory_resgen.cpp), and adds it to the target's sources.
# STRTABLES adds the generated string tables of quillory_string_tables as
# STRTABLE resources named after their languages.
function(quillory_embed_resources target)
  cmake_parse_arguments(R "STRTABLES" "OUTPUT" "DATA;STRINGS" ${ARGN})
  if(R_STRTABLES)
    get_property(names GLOBAL PROPERTY QUILLORY_STRTABLE_NAMES)
    get_property(dir GLOBAL PROPERTY QUILLORY_STRTABLE_DIR)
    foreach(name IN LISTS names)
      list(APPEND R_DATA STRTABLE ${name} ${dir}/${name})
    endforeach()
    add_dependencies(${target} quillory_strtables)
  endif()
  if(NOT R_OUTPUT)
    message(FATAL_ERROR "quillory_embed_resources(${target}): OUTPUT is required")
  endif()
  list(LENGTH R_DATA count)
  math(EXPR rest "${count} % 3")
  if(NOT rest EQUAL 0)
    message(FATAL_ERROR "quillory_embed_resources(${target}): DATA takes type, name and file triples")
  endif()
  if(NOT TARGET quillory_resgen)
    add_executable(quillory_resgen ${PROJECT_SOURCE_DIR}/cmake/quillory_resgen.cpp)
    set_target_properties(quillory_resgen PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tools)
    quillory_warnings(quillory_resgen)
  endif()
  set(args "")
  set(deps "")
  while(count GREATER 0)
    list(POP_FRONT R_DATA type name file)
    math(EXPR count "${count} - 3")
    get_filename_component(file "${file}" ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    list(APPEND args data "${type}" "${name}" "${file}")
    list(APPEND deps "${file}")
  endwhile()
  foreach(file IN LISTS R_STRINGS)
    get_filename_component(file "${file}" ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    list(APPEND args strings "${file}")
    list(APPEND deps "${file}")
  endforeach()
  add_custom_command(OUTPUT ${R_OUTPUT}
    COMMAND quillory_resgen ${R_OUTPUT} ${args}
    DEPENDS quillory_resgen ${deps}
    COMMENT "Embedding resources of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${R_OUTPUT})
endfunction()
