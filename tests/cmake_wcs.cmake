# The sky position and width of the caption against astropy (which reads headers with the
# same WCSLIB), on made headers of every kind and on the real files of astropy's tests: the
# script builds the files, runs pelorin-convert --caption and prints the table of
# differences. Skipped when no python with astropy is found.
if(TARGET pelorin-convert)
  add_test(NAME sky_caption_vs_astropy
           COMMAND ${PELORIN_TEST_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/wcs_check.py
                   $<TARGET_FILE:pelorin-convert>)
  set_tests_properties(sky_caption_vs_astropy PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
endif()
