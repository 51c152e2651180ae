# The palettes, samples, desktop entry and icon are generated data files: check that they
# are well formed and read back as intended (the pictures are decoded when PIL is there).
add_test(NAME assets_check
  COMMAND ${PELORIN_TEST_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/check_assets.py
          ${PROJECT_SOURCE_DIR})
set_tests_properties(assets_check PROPERTIES TIMEOUT 60)
