# The BMP files we write, read back by PIL: a small program writes pictures of every depth
# with the colours each pixel should show, and a python script compares them with what
# PIL decodes; the test is marked skipped when PIL is missing.
add_executable(pelorin_bmp_pil_writer ${CMAKE_CURRENT_SOURCE_DIR}/bmp_pil_writer.cpp)
target_link_libraries(pelorin_bmp_pil_writer PRIVATE pelorin_test_support)

add_test(NAME bmp_read_by_pil
         COMMAND ${PELORIN_TEST_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/bmp_pil_check.py
                 $<TARGET_FILE:pelorin_bmp_pil_writer>)
set_tests_properties(bmp_read_by_pil PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60)
