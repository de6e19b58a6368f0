# Build settings shared by every target, and the small functions that keep the per-folder
# CMakeLists files short: libraries, tests, fuzz targets and benchmarks are found by file name.

add_compile_options(-Wall -Wextra)
# Position checks rely on IEEE NaN comparisons: never let a fast-math flag in.
add_compile_options(-fno-fast-math)

# The lock rules the code states (net/ThreadAnnotations.h) are checked by clang, and a broken one
# fails its build. The parts of a peer reach their one lock through references of their own, which
# the analysis cannot prove to be one object: "precise" matching is off, so it accepts the lock
# named by the same member through another reference, and still refuses a missing one.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_compile_options(-Wthread-safety -Werror=thread-safety -Wno-thread-safety-precise)
endif()

if(VELT_SANITIZE)
  add_compile_options(-fsanitize=${VELT_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${VELT_SANITIZE})
endif()

if(VELT_FUZZ)
  # Coverage instrumentation for everything the fuzz targets link; the targets add the driver.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

find_package(Threads REQUIRED)

# velt_add_library(<name> <dir> [<libs>...] [EXCLUDE <file>...]): a static library of every .cpp
# directly inside <dir> but the excluded file names, linked with <libs>. A folder with no sources
# yet gives an interface library, so dependents link either way.
function(velt_add_library name dir)
  cmake_parse_arguments(ARG "" "" "EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  foreach(excluded ${ARG_EXCLUDE})
    list(REMOVE_ITEM sources ${dir}/${excluded})
  endforeach()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC Threads::Threads ${ARG_UNPARSED_ARGUMENTS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE Threads::Threads ${ARG_UNPARSED_ARGUMENTS})
  endif()
endfunction()

# velt_add_server_library(<name> [<libs>...]): velt_add_library over the calling folder, made
# part of velt_core, the whole game server that the program, the tests and the tools link.
function(velt_add_server_library name)
  velt_add_library(${name} ${CMAKE_CURRENT_SOURCE_DIR} ${ARGN})
  target_link_libraries(velt_core INTERFACE ${name})
endfunction()

# velt_add_gtests(<label> <libs...>): one test program per *_test.cpp in the calling folder,
# each registered with CTest under <label>.
function(velt_add_gtests label)
  if(NOT VELT_TESTS)
    return()
  endif()
  find_package(GTest REQUIRED)
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  foreach(src ${tests})
    get_filename_component(base ${src} NAME_WE)
    set(target ${label}_${base})
    add_executable(${target} ${src})
    target_link_libraries(${target} PRIVATE ${ARGN} GTest::gtest GTest::gmock GTest::gtest_main)
    add_test(NAME ${target} COMMAND ${target} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    set_tests_properties(${target} PROPERTIES LABELS ${label} TIMEOUT 600)
  endforeach()
endfunction()

# velt_add_python_test(<name> <label> <script> [args...]): a stdlib-only Python check.
function(velt_add_python_test name label script)
  if(NOT VELT_TESTS)
    return()
  endif()
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME ${name} COMMAND ${Python3_EXECUTABLE} ${script} ${ARGN}
           WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  # The scripts learn the sanitizer the binaries were built with, for what one of them changes.
  set_tests_properties(${name} PROPERTIES LABELS ${label} TIMEOUT 600
                       ENVIRONMENT "VELT_SANITIZE=${VELT_SANITIZE}")
endfunction()

# velt_add_fuzzer(<name> <source> <libs...>): a libFuzzer target plus a short smoke run in
# CTest under the label fuzz. Only in the clang build (VELT_FUZZ). The smoke starts from the
# seeds in corpus/<name>/ next to the source, copied into the build's working corpus (the run
# writes what it finds there, never into the source tree).
function(velt_add_fuzzer name src)
  if(NOT VELT_FUZZ)
    return()
  endif()
  add_executable(${name} ${src})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE ${ARGN})
  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/corpus_${name})
  file(MAKE_DIRECTORY ${corpus})
  file(GLOB seeds CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/${name}/*)
  if(seeds)
    file(COPY ${seeds} DESTINATION ${corpus})
  endif()
  add_test(NAME fuzz_${name}
           COMMAND ${name} -max_total_time=${VELT_FUZZ_SECONDS} -rss_limit_mb=2048 -print_final_stats=1 ${corpus})
  set_tests_properties(fuzz_${name} PROPERTIES LABELS fuzz TIMEOUT 300)
endfunction()

# velt_add_benchmark(<name> <source> <libs...>): a Google Benchmark program, run by `make bench`.
function(velt_add_benchmark name src)
  find_package(benchmark REQUIRED)
  add_executable(${name} ${src})
  target_link_libraries(${name} PRIVATE ${ARGN} benchmark::benchmark benchmark::benchmark_main)
endfunction()
