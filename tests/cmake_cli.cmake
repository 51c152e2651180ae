# pelorin-convert tested end to end as a process; its BMP files are read back with PIL.
if(TARGET pelorin-convert)
  add_test(NAME converter_end_to_end
    COMMAND ${PELORIN_TEST_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/cli_test.py
            $<TARGET_FILE:pelorin-convert> ${PROJECT_SOURCE_DIR}/palettes)
  set_tests_properties(converter_end_to_end PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
endif()

# zscale thresholds printed by --levels against astropy's ZScaleInterval, on made and real files.
if(TARGET pelorin-convert)
  add_test(NAME zscale_against_astropy
    COMMAND ${PELORIN_TEST_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/zscale_check.py
            $<TARGET_FILE:pelorin-convert> ${PROJECT_SOURCE_DIR}/palettes)
  set_tests_properties(zscale_against_astropy PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
endif()
