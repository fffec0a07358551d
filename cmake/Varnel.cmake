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
