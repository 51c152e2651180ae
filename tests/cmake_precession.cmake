# Cross-check of the IAU 1976 precession and of the Julian dates against ERFA: a small
# program prints our results for a grid of inputs and a python script recomputes them with
# python3-erfa. The test is skipped when no python with ERFA and numpy is found.
add_executable(pelorin_precession_grid ${CMAKE_CURRENT_SOURCE_DIR}/precession_grid.cpp)
target_link_libraries(pelorin_precession_grid PRIVATE pelorin_core)

# The python on PATH may be a private one without the Debian modules: prefer the first
# interpreter that has them.
if(NOT PELORIN_ERFA_PYTHON)
  find_program(PELORIN_PYTHON3_ON_PATH NAMES python3)
  set(_pelorin_first_python "")
  foreach(_candidate ${PELORIN_PYTHON3_ON_PATH} /usr/bin/python3)
    if(_candidate AND EXISTS ${_candidate})
      if(NOT _pelorin_first_python)
        set(_pelorin_first_python ${_candidate})
      endif()
      execute_process(COMMAND ${_candidate} -c "import erfa, numpy"
                      RESULT_VARIABLE _pelorin_erfa_rc OUTPUT_QUIET ERROR_QUIET)
      if(_pelorin_erfa_rc EQUAL 0)
        set(PELORIN_ERFA_PYTHON ${_candidate} CACHE FILEPATH "python3 with the erfa module")
        break()
      endif()
    endif()
  endforeach()
  if(NOT PELORIN_ERFA_PYTHON)
    # The script itself reports the missing module and the test is marked as skipped.
    set(PELORIN_ERFA_PYTHON ${_pelorin_first_python})
  endif()
endif()

if(PELORIN_ERFA_PYTHON)
  add_test(NAME precession_vs_erfa
           COMMAND ${PELORIN_ERFA_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/precession_check.py
                   $<TARGET_FILE:pelorin_precession_grid>)
  set_tests_properties(precession_vs_erfa PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60)
else()
  message(STATUS "No python3 found: precession_vs_erfa not registered")
endif()
