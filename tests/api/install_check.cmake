# Installs the built library into a scratch prefix, then builds a consumer
# against it with find_package(ici3d) and checks the pkg-config file.
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/prefix
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE}/tests/api/consumer -B ${WORK}/consumer
                        -DCMAKE_PREFIX_PATH=${WORK}/prefix
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "find_package(ici3d) failed:\n${out}\n${err}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/consumer RESULT_VARIABLE rc
                OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "consumer build failed:\n${out}\n${err}")
endif()
file(GLOB_RECURSE pc ${WORK}/prefix/*/pkgconfig/ici3d.pc)
if(NOT pc)
  message(FATAL_ERROR "no ici3d.pc installed")
endif()
file(READ ${pc} pc_text)
if(NOT pc_text MATCHES "Libs: -L\\$\\{libdir\\} -lici3d")
  message(FATAL_ERROR "unexpected pkg-config file:\n${pc_text}")
endif()
