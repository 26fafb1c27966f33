# A source tree that is not a git checkout of its own (a tarball, even one unpacked inside some
# other repository) builds with the version alone as its build tag.
# -DSCRIPT=build_tag.cmake -DINPUT=version.h.in -DWORK=a folder inside this repository
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${WORK} -DVERSION=9.8.7 -DINPUT=${INPUT}
                        -DOUTPUT=${WORK}/version.h -P ${SCRIPT}
                RESULT_VARIABLE status)
file(READ ${WORK}/version.h header)
if(NOT status EQUAL 0 OR NOT header MATCHES "\n#define LIGHTBENCH_BUILD_TAG \"9\\.8\\.7\"\n")
  message(FATAL_ERROR "status ${status}, version.h:\n${header}")
endif()
