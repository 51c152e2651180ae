# Tile-compressed images of every codec and layout, written by astropy and read by our reader
# through the decompression helper: the same stored values as astropy's (skipped without
# astropy).
add_executable(pelorin_fits_values ${CMAKE_CURRENT_SOURCE_DIR}/fits_values.cpp)
target_link_libraries(pelorin_fits_values PRIVATE pelorin_core)
set_target_properties(pelorin_fits_values PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
add_test(NAME tile_compression_against_astropy
         COMMAND ${PELORIN_TEST_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/tile_compression_check.py
                 $<TARGET_FILE:pelorin_fits_values> $<TARGET_FILE:pelorin-convert>
                 ${PROJECT_SOURCE_DIR}/palettes)
set_tests_properties(tile_compression_against_astropy PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
