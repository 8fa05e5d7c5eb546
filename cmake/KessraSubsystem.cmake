# ks_subsystem(NAME DEPS...): one static library from every .cpp in the current folder.
function(ks_subsystem name)
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(${name} STATIC ${_srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARGN} PRIVATE ks_warnings)
endfunction()

# ks_test_suite(NAME DEPS...): one GoogleTest program from every .cpp in the current folder.
function(ks_test_suite name)
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT _srcs)
    return()
  endif()
  add_executable(${name} ${_srcs})
  target_link_libraries(${name} PRIVATE ${ARGN} ks_test_support GTest::gtest GTest::gmock GTest::gtest_main ks_warnings)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "KS_TEST_DATA=${KS_DATA_DIR};KS_BIN_DIR=${PROJECT_BINARY_DIR}/bin")
endfunction()
