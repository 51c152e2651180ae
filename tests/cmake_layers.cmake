# Every include of src/ stays inside its layer and the layers below it; the checker first
# proves on a small tree of its own that it sees the faults it is for.
add_test(NAME layering_self_test
  COMMAND ${PELORIN_TEST_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/check_layers.py --self-test)
add_test(NAME layering_check
  COMMAND ${PELORIN_TEST_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/check_layers.py
          ${PROJECT_SOURCE_DIR}/src)
set_tests_properties(layering_self_test layering_check PROPERTIES TIMEOUT 60)
