# Writes version.h from version.h.in at every build, so that the build tag names the commit the
# program was built from: VERSION, then "-g" and the commit when SOURCE_DIR is the top of a git
# work tree, and "-dirty" when tracked files differ from it. Without git, or in an unpacked
# tarball, the tag is VERSION alone. The file is rewritten only when its text changes.
# cmake -DSOURCE_DIR=... -DVERSION=... -DINPUT=version.h.in -DOUTPUT=version.h -P build_tag.cmake
set(LIGHTBENCH_BUILD_TAG "${VERSION}")
find_program(GIT_PROGRAM git)
if(GIT_PROGRAM)
  execute_process(COMMAND ${GIT_PROGRAM} -C ${SOURCE_DIR} rev-parse --show-toplevel
                  RESULT_VARIABLE status OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET)
  # Only our own work tree: a tarball unpacked inside some other repository is not a checkout.
  if(status EQUAL 0 AND top)
    file(REAL_PATH "${top}" top)
    file(REAL_PATH "${SOURCE_DIR}" source)
  endif()
  if(status EQUAL 0 AND top STREQUAL source)
    execute_process(COMMAND ${GIT_PROGRAM} -C ${SOURCE_DIR} rev-parse --short=12 HEAD
                    RESULT_VARIABLE status OUTPUT_VARIABLE commit
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(status EQUAL 0 AND commit)
      string(APPEND LIGHTBENCH_BUILD_TAG "-g${commit}")
      execute_process(COMMAND ${GIT_PROGRAM} -C ${SOURCE_DIR} status --porcelain
                              --untracked-files=no
                      OUTPUT_VARIABLE changes ERROR_QUIET)
      if(changes)
        string(APPEND LIGHTBENCH_BUILD_TAG "-dirty")
      endif()
    endif()
  endif()
endif()
set(PROJECT_VERSION "${VERSION}")
configure_file(${INPUT} ${OUTPUT} @ONLY)
