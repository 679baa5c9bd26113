# The release artefacts. Windows build: target qimbo_dist makes, in dist/ of
# the build folder, Qimbo-<version>-portable.zip (qimbo_zip) and
# Qimbo-<version>-setup.exe (NSIS). Native build: target qimbo_deb makes
# dist/qimbo-server_<version>_amd64.deb. `make dist` and `make deb` copy them
# to build/dist/.
set(QIMBO_DIST_DIR ${CMAKE_BINARY_DIR}/dist)
if(WIN32 AND TARGET Qimbo)
  set(stage ${CMAKE_BINARY_DIR}/dist-stage/Qimbo)
  set(zip ${QIMBO_DIST_DIR}/Qimbo-${PROJECT_VERSION}-portable.zip)
  set(setup ${QIMBO_DIST_DIR}/Qimbo-${PROJECT_VERSION}-setup.exe)
  # The program folder as it runs, fresh, with the program and library stripped.
  add_custom_target(qimbo_stage
                    COMMAND rm -rf ${stage}
                    COMMAND ${CMAKE_SOURCE_DIR}/scripts/layout.sh ${CMAKE_BINARY_DIR} ${stage}
                    COMMAND ${CMAKE_STRIP} ${stage}/Qimbo.exe ${stage}/Movrec.dll
                    COMMAND python3 ${CMAKE_SOURCE_DIR}/packaging/windows/nsis-lists.py ${stage}
                            ${CMAKE_BINARY_DIR}/dist-stage
                    DEPENDS Qimbo Movrec
                    COMMENT "Laying out a fresh program folder in ${stage}" VERBATIM)
  add_custom_target(qimbo_zip
                    COMMAND ${CMAKE_COMMAND} -E make_directory ${QIMBO_DIST_DIR}
                    COMMAND python3 ${CMAKE_SOURCE_DIR}/scripts/zip-folder.py ${stage} ${zip}
                    DEPENDS qimbo_stage
                    COMMENT "Zipping the program folder into ${zip}" VERBATIM)
  find_program(QIMBO_MAKENSIS makensis)
  # The licence page only when the project has a licence.
  set(licence_arg)
  if(EXISTS ${CMAKE_SOURCE_DIR}/LICENSE)
    set(licence_arg -DLICENSE=${CMAKE_SOURCE_DIR}/LICENSE)
  endif()
  if(QIMBO_MAKENSIS)
    add_custom_target(qimbo_setup
                      COMMAND ${CMAKE_COMMAND} -E make_directory ${QIMBO_DIST_DIR}
                      COMMAND ${QIMBO_MAKENSIS} -V2 -INPUTCHARSET UTF8 -DVERSION=${PROJECT_VERSION}
                              -DVERSION4=${PROJECT_VERSION}.0 -DPUBLISHER=${QIMBO_PUBLISHER}
                              "-DCOPYRIGHT=${QIMBO_COPYRIGHT}" -DSTAGE=${stage} -DOUTFILE=${setup}
                              -DLISTS=${CMAKE_BINARY_DIR}/dist-stage
                              -DRES=${CMAKE_SOURCE_DIR}/res ${licence_arg} ${CMAKE_SOURCE_DIR}/packaging/windows/qimbo.nsi
                      DEPENDS qimbo_stage
                      COMMENT "Building the installer ${setup}" VERBATIM)
    add_custom_target(qimbo_dist DEPENDS qimbo_zip qimbo_setup)
  else()
    add_custom_target(qimbo_dist
                      COMMAND ${CMAKE_COMMAND} -E echo "makensis (Debian package nsis) is missing: no installer"
                      COMMAND ${CMAKE_COMMAND} -E false
                      DEPENDS qimbo_zip VERBATIM)
  endif()
elseif(NOT WIN32 AND TARGET qimbo-server AND TARGET qimbo-tool)
  add_custom_target(qimbo_deb
                    COMMAND ${CMAKE_SOURCE_DIR}/packaging/debian/build-deb.sh ${PROJECT_VERSION}
                            $<TARGET_FILE:qimbo-server> $<TARGET_FILE:qimbo-tool> ${QIMBO_DIST_DIR}
                    DEPENDS qimbo-server qimbo-tool
                    COMMENT "Building the Debian package of qimbo-server in ${QIMBO_DIST_DIR}" VERBATIM)
endif()
