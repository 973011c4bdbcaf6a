# Each core folder is its own static library, so a module can be built and tested
# without compiling the others. Window files (*_window.*) never enter the core:
# they go to the Qt layer.
function(zibu_core_module name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER _srcs EXCLUDE REGEX "_window\\.cpp$")
  if(NOT _srcs)
    add_library(zibu_${name} INTERFACE)
    target_include_directories(zibu_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(zibu_${name} INTERFACE ${ARG_DEPS})
  else()
    add_library(zibu_${name} STATIC ${_srcs})
    target_include_directories(zibu_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(zibu_${name} PUBLIC ${ARG_DEPS})
  endif()
endfunction()

# Window sources of a folder, for the Qt layer.
function(zibu_window_sources out_var dir)
  file(GLOB _w CONFIGURE_DEPENDS ${dir}/*_window.cpp ${dir}/*_window.h)
  set(${out_var} ${_w} PARENT_SCOPE)
endfunction()

# One GoogleTest executable per tests/ folder: test_<name>.
function(zibu_test name)
  cmake_parse_arguments(ARG "NOMAIN" "" "DEPS;PROPS" ${ARGN})
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT _srcs)
    return()
  endif()
  add_executable(test_${name} ${_srcs})
  target_link_libraries(test_${name} PRIVATE ${ARG_DEPS} zibu_test_support GTest::gtest GTest::gmock)
  if(NOT ARG_NOMAIN)
    target_link_libraries(test_${name} PRIVATE GTest::gtest_main)
  endif()
  target_compile_definitions(test_${name} PRIVATE ZIBU_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
                                                  ZIBU_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
  gtest_discover_tests(test_${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES LABELS ${name} ${ARG_PROPS})
endfunction()
