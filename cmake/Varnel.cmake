# Helpers shared by every folder of the project.

# Adds a folder only once it has its own CMakeLists.txt.
macro(varnel_subdir dir)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endmacro()

find_package(GTest REQUIRED)
include(GoogleTest)

# varnel_add_test(name SOURCES a.cpp b.cpp LIBS lib1 lib2 [LABELS unit] [TIMEOUT s])
# One GoogleTest executable, its cases registered with CTest. The label "unit"
# marks tests that the sanitizer build runs as well.
function(varnel_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    VARNEL_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    VARNEL_BINARY_DIR="${CMAKE_BINARY_DIR}"
    VARNEL_CORPUS_DIR="${VARNEL_CORPUS_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT})
endfunction()

# varnel_add_fuzzer(name SOURCES a.cpp LIBS lib1 CRASHES dir)
# The source defines LLVMFuzzerTestOneInput. In every build a replay program
# (fuzz/replay_main.cpp) runs each kept file of CRASHES under CTest (label
# "fuzz"); with VARNEL_FUZZ a libFuzzer program fuzz_<name> is built as well.
function(varnel_add_fuzzer name)
  cmake_parse_arguments(F "" "CRASHES" "SOURCES;LIBS" ${ARGN})
  add_executable(replay_${name} ${F_SOURCES} ${CMAKE_SOURCE_DIR}/fuzz/replay_main.cpp)
  target_link_libraries(replay_${name} PRIVATE ${F_LIBS})
  set_target_properties(replay_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  if(F_CRASHES)
    add_test(NAME fuzz_replay_${name} COMMAND replay_${name} ${F_CRASHES})
    set_tests_properties(fuzz_replay_${name} PROPERTIES LABELS fuzz TIMEOUT 600)
  endif()
  if(VARNEL_FUZZ)
    add_executable(fuzz_${name} ${F_SOURCES})
    target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(fuzz_${name} PRIVATE ${F_LIBS} -fsanitize=fuzzer)
    set_target_properties(fuzz_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  endif()
endfunction()
