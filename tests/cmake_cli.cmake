# pelorin-convert tested end to end as a process: its BMP files read back with PIL
# (converter_end_to_end), and the zscale thresholds it prints with --levels against
# astropy's ZScaleInterval on made and real files (zscale_against_astropy).
if(TARGET pelorin-convert)
  foreach(check converter_end_to_end:cli_test.py zscale_against_astropy:zscale_check.py)
    string(REPLACE ":" ";" parts ${check})
    list(GET parts 0 name)
    list(GET parts 1 script)
    add_test(NAME ${name}
      COMMAND ${PELORIN_TEST_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/${script}
              $<TARGET_FILE:pelorin-convert> ${PROJECT_SOURCE_DIR}/palettes)
    set_tests_properties(${name} PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
  endforeach()
endif()
