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
  set_property(GLOBAL APPEND PROPERTY QUILLORY_FUZZERS ${name})
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
