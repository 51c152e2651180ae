# What the installed programs bring with them: manual pages that document every option of
# --help, the converter's bash completion, and the Debian package itself, unpacked and used.
find_program(PELORIN_BASH bash)

if(TARGET pelorin-convert)
  add_test(NAME manpage_pelorin_convert
    COMMAND ${PELORIN_TEST_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/check_manpages.py
            $<TARGET_FILE:pelorin-convert> ${PROJECT_BINARY_DIR}/packaging/man/pelorin-convert.1)
  if(PELORIN_BASH)
    add_test(NAME completion_pelorin_convert
      COMMAND ${PELORIN_BASH} ${CMAKE_CURRENT_SOURCE_DIR}/check_completion.sh
              ${PROJECT_BINARY_DIR}/packaging/pelorin-convert.bash
              $<TARGET_FILE:pelorin-convert> ${PROJECT_SOURCE_DIR}/palettes)
  endif()
endif()
if(TARGET pelorin)
  add_test(NAME manpage_pelorin
    COMMAND ${PELORIN_TEST_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/check_manpages.py
            $<TARGET_FILE:pelorin> ${PROJECT_BINARY_DIR}/packaging/man/pelorin.1)
endif()

# The package is made from the install rules of this build: only a build of the programs as
# shipped (no sanitizers) is worth packaging.
if(TARGET pelorin-convert AND PELORIN_BASH AND NOT PELORIN_SANITIZE AND NOT PELORIN_FUZZ)
  add_test(NAME package_unpacked
    COMMAND ${PELORIN_BASH} ${CMAKE_CURRENT_SOURCE_DIR}/check_package.sh
            ${PROJECT_BINARY_DIR}/CPackConfig.cmake ${PROJECT_VERSION} ${CMAKE_INSTALL_LIBDIR}
            $<TARGET_FILE:pelorin-convert> ${PROJECT_SOURCE_DIR}/palettes
            ${PROJECT_SOURCE_DIR}/samples)
  set_tests_properties(package_unpacked PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
endif()
