# The release artefacts as users meet them (native only): dist.build makes them
# (or finds them up to date), dist.windows installs, upgrades and uninstalls
# the installer under Wine, dist.deb takes the server's package apart.
if(NOT WIN32 AND TARGET qimbo-server AND TARGET qimbo-tool)
  add_test(NAME dist.build COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/dist/build.sh ${CMAKE_BINARY_DIR} "${QIMBO_WIN_BUILD_DIR}")
  set_tests_properties(dist.build PROPERTIES FIXTURES_SETUP dist TIMEOUT 600 RUN_SERIAL TRUE)
  add_test(NAME dist.deb COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/dist/deb-test.sh
           ${CMAKE_BINARY_DIR}/dist/qimbo-server_${PROJECT_VERSION}_amd64.deb ${PROJECT_VERSION})
  set_tests_properties(dist.deb PROPERTIES FIXTURES_REQUIRED dist TIMEOUT 120)
  if(QIMBO_WIN_BUILD_DIR)
    add_test(NAME dist.windows COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/dist/windows-test.sh
             ${QIMBO_WIN_BUILD_DIR}/dist/Qimbo-${PROJECT_VERSION}-setup.exe ${PROJECT_VERSION}
             $<TARGET_FILE:qimbo-tool> ${CMAKE_BINARY_DIR}/screens)
    set_tests_properties(dist.windows PROPERTIES FIXTURES_REQUIRED dist TIMEOUT 240 RESOURCE_LOCK windows
                         SKIP_RETURN_CODE 77)
  endif()
endif()
# The wrappers' shell kit (tests/win/kit.sh) on its own, without Wine.
if(NOT WIN32)
  add_test(NAME kit.shell COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/win/kit-test.sh)
  set_tests_properties(kit.shell PROPERTIES TIMEOUT 60)
endif()
