# Cross-check of the IAU 1976 precession and of the Julian dates against ERFA: a small
# program prints our results for a grid of inputs and a python script recomputes them with
# python3-erfa. The test is skipped when no python with ERFA and numpy is found.
add_executable(pelorin_precession_grid ${CMAKE_CURRENT_SOURCE_DIR}/precession_grid.cpp)
target_link_libraries(pelorin_precession_grid PRIVATE pelorin_core)

add_test(NAME precession_vs_erfa
         COMMAND ${PELORIN_TEST_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/precession_check.py
                 $<TARGET_FILE:pelorin_precession_grid>)
set_tests_properties(precession_vs_erfa PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60)
