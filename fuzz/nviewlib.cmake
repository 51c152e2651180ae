# The picture decoder entry, linked from the module's objects (the module itself is only
# ever loaded at run time).
if(TARGET nviewlib_objects)
  pelorin_fuzz_target(fuzz_nviewlib ${CMAKE_CURRENT_SOURCE_DIR}/nviewlib/fuzz_nviewlib.cpp
                      nviewlib_objects)
endif()
