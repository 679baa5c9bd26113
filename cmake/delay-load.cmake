# System libraries that Qimbo.exe loads on their first use instead of before it
# starts: each DLL the loader maps up front delays the first window (under Wine
# by several milliseconds each). Targets with the property QIMBO_DELAY_LOAD set
# link these through delay-load import libraries made from the system ones;
# every other target (the test programs) links them the ordinary way.
#   qimbo_system_libs(VAR lib...)  sets VAR to the link items for those libraries
set(QIMBO_DELAY_DIR ${CMAKE_BINARY_DIR}/delay-load)
add_custom_target(qimbo_delay_libs)

function(qimbo_system_libs var)
  set(items)
  foreach(lib ${ARGN})
    set(implib ${CMAKE_FIND_ROOT_PATH}/lib/lib${lib}.a)
    if(NOT WIN32 OR NOT EXISTS ${implib})
      list(APPEND items ${lib})
      continue()
    endif()
    set(delay ${QIMBO_DELAY_DIR}/lib${lib}_delay.a)
    if(NOT TARGET qimbo_delay_${lib})
      add_custom_command(OUTPUT ${delay}
                         COMMAND ${CMAKE_COMMAND} -E make_directory ${QIMBO_DELAY_DIR}
                         COMMAND ${CMAKE_SOURCE_DIR}/scripts/delay-lib.sh ${CMAKE_NM} ${CMAKE_DLLTOOL}
                                 ${implib} ${lib}.dll ${delay}
                         DEPENDS ${implib} ${CMAKE_SOURCE_DIR}/scripts/delay-lib.sh
                         COMMENT "Delay-load import library for ${lib}.dll")
      add_custom_target(qimbo_delay_${lib} DEPENDS ${delay})
      add_dependencies(qimbo_delay_libs qimbo_delay_${lib})
    endif()
    list(APPEND items "$<IF:$<BOOL:$<TARGET_PROPERTY:QIMBO_DELAY_LOAD>>,${delay},${lib}>")
  endforeach()
  # The loader code that the delay-load libraries call.
  list(APPEND items "$<$<BOOL:$<TARGET_PROPERTY:QIMBO_DELAY_LOAD>>:delayimp>")
  set(${var} ${items} PARENT_SCOPE)
endfunction()
