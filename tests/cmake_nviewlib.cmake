# Tests of the picture decoder module and its loader: their own executable, because the
# module is loaded at run time rather than linked, and the test program must sit beside it
# for the loader's search to be tested as the program does it.
if(NOT TARGET nviewlib)
  return()
endif()

find_program(PELORIN_GM_PROGRAM gm)
if(NOT PELORIN_GM_PROGRAM)
  message(WARNING "gm (graphicsmagick) not found: nviewlib_tests not built")
  return()
endif()

# Stand-in modules: one that returns malformed pictures on demand, one lacking an entry.
foreach(variant full half)
  add_library(nviewlib_fake_${variant} MODULE ${CMAKE_CURRENT_SOURCE_DIR}/nviewlib/fake/FakeModule.cpp)
  target_include_directories(nviewlib_fake_${variant} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  set_target_properties(nviewlib_fake_${variant} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/nviewlib_fakes)
endforeach()
target_compile_definitions(nviewlib_fake_half PRIVATE FAKE_WITHOUT_FREE=1)

file(GLOB NVIEWLIB_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/nviewlib/*.cpp)
add_executable(nviewlib_tests ${NVIEWLIB_TEST_SOURCES})
target_link_libraries(nviewlib_tests PRIVATE
  pelorin_test_support pelorin_decoder_loader GTest::gtest GTest::gtest_main ${CMAKE_DL_LIBS} Threads::Threads)
add_dependencies(nviewlib_tests nviewlib nviewlib_fake_full nviewlib_fake_half)
target_compile_definitions(nviewlib_tests PRIVATE
  NVIEWLIB_MODULE_PATH="$<TARGET_FILE:nviewlib>"
  NVIEWLIB_FAKE_MODULE_PATH="$<TARGET_FILE:nviewlib_fake_full>"
  NVIEWLIB_HALF_MODULE_PATH="$<TARGET_FILE:nviewlib_fake_half>"
  PELORIN_GM_PROGRAM="${PELORIN_GM_PROGRAM}"
  PELORIN_LIB_DIR="${PELORIN_LIB_DIR}"
  PELORIN_LIB_DIR_FROM_BIN="${PELORIN_LIB_DIR_FROM_BIN}")
set_target_properties(nviewlib_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
gtest_discover_tests(nviewlib_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
