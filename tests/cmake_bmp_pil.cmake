# The BMP files we write, read back by PIL: a small program writes pictures of every depth
# with the colours each pixel should show, and a python script compares them with what
# PIL decodes. Debian's python3 (which has python3-pil) is preferred to any other on PATH;
# the test is marked skipped when PIL is missing.
add_executable(pelorin_bmp_pil_writer ${CMAKE_CURRENT_SOURCE_DIR}/bmp_pil_writer.cpp)
target_link_libraries(pelorin_bmp_pil_writer PRIVATE pelorin_core)

find_program(PELORIN_PIL_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT PELORIN_PIL_PYTHON)
  find_program(PELORIN_PIL_PYTHON NAMES python3)
endif()
if(PELORIN_PIL_PYTHON)
  add_test(NAME bmp_read_by_pil
           COMMAND ${PELORIN_PIL_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/bmp_pil_check.py
                   $<TARGET_FILE:pelorin_bmp_pil_writer>)
  set_tests_properties(bmp_read_by_pil PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60)
else()
  message(STATUS "No python3 found: bmp_read_by_pil not registered")
endif()
