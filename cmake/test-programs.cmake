# qimbo_test_programs_target(DIR...): the target qimbo_test_programs, which
# builds every program of the calling folder and of the folders DIR (the
# suites and the programs their scripts start), but not the benchmarks. The
# sanitized build (build/asan) builds this target only.
function(qimbo_test_programs_target)
  add_custom_target(qimbo_test_programs)
  set(programs)
  foreach(dir ${CMAKE_CURRENT_SOURCE_DIR} ${ARGN})
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target ${targets})
      get_target_property(type ${target} TYPE)
      if(type STREQUAL "EXECUTABLE")
        list(APPEND programs ${target})
      endif()
    endforeach()
  endforeach()
  if(programs)
    add_dependencies(qimbo_test_programs ${programs})
  endif()
endfunction()
