# The palettes, samples, desktop entry and icon are generated data files: check that they
# are well formed and read back as intended. Debian's own python3 is preferred because its
# python3-pil lets the check decode the pictures as well; any python3 runs the rest.
find_program(PELORIN_ASSETS_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT PELORIN_ASSETS_PYTHON)
  find_program(PELORIN_ASSETS_PYTHON NAMES python3)
endif()
if(NOT PELORIN_ASSETS_PYTHON)
  set(PELORIN_ASSETS_PYTHON python3)
endif()
add_test(NAME assets_check
  COMMAND ${PELORIN_ASSETS_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/check_assets.py
          ${PROJECT_SOURCE_DIR})
set_tests_properties(assets_check PROPERTIES TIMEOUT 60)
