# Builds and runs the example consumer programs against the library, the way a
# user's project gets it (MODE):
#   installed       the test build installed into a staging prefix (the console
#                   program installed beside the library);
#   include-dir     the library configured afresh with a non-default
#                   CMAKE_INSTALL_INCLUDEDIR, then installed;
#   subproject      quarn added with add_subdirectory to a parent project, its
#                   tests and benchmarks off by default (no test libraries needed).
# Arguments: -DMODE, -DBUILD_DIR, -DSOURCE_DIR, -DWORK_DIR, and -DCXX_FLAGS, the
# flags the library was built with (a sanitizer build's library needs its
# runtime in the consumer too).
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
set(consumer_source ${SOURCE_DIR}/examples/library)

function(run)
  execute_process(COMMAND ${ARGV} COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)
endfunction()

if(MODE STREQUAL "installed")
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
  if(NOT EXISTS ${prefix}/bin/quarn)
    message(FATAL_ERROR "cmake --install did not install the console program")
  endif()
elseif(MODE STREQUAL "include-dir")
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/library -DCMAKE_BUILD_TYPE=Release
      -DCMAKE_INSTALL_INCLUDEDIR=include/quarn-headers -DQUARN_BUILD_TESTS=OFF
      -DQUARN_BUILD_BENCHMARKS=OFF -DQUARN_BUILD_PROGRAM=OFF "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}")
  run(${CMAKE_COMMAND} --build ${WORK_DIR}/library --target quarn_eos quarn_equilibrium quarn_fluid)
  run(${CMAKE_COMMAND} --install ${WORK_DIR}/library --prefix ${prefix})
  if(NOT EXISTS ${prefix}/include/quarn-headers/quarn/eos.hpp)
    message(FATAL_ERROR "the header is not where CMAKE_INSTALL_INCLUDEDIR says")
  endif()
elseif(MODE STREQUAL "subproject")
  set(consumer_source ${WORK_DIR}/parent)
  file(WRITE ${consumer_source}/CMakeLists.txt
       "cmake_minimum_required(VERSION 3.25)\n"
       "project(parent LANGUAGES CXX)\n"
       "add_subdirectory(${SOURCE_DIR} quarn)\n"
       "if(QUARN_BUILD_TESTS OR QUARN_BUILD_BENCHMARKS)\n"
       "  message(FATAL_ERROR \"a subproject's tests and benchmarks are on by default\")\n"
       "endif()\n"
       "add_executable(fugacities ${SOURCE_DIR}/examples/library/fugacities.cpp)\n"
       "target_link_libraries(fugacities PRIVATE quarn::eos)\n"
       "add_executable(unmixing ${SOURCE_DIR}/examples/library/unmixing.cpp)\n"
       "target_link_libraries(unmixing PRIVATE quarn::equilibrium)\n"
       "add_executable(isochore ${SOURCE_DIR}/examples/library/isochore.cpp)\n"
       "target_link_libraries(isochore PRIVATE quarn::fluid)\n")
else()
  message(FATAL_ERROR "unknown MODE ${MODE}")
endif()

run(${CMAKE_COMMAND} -S ${consumer_source} -B ${WORK_DIR}/build -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build --target fugacities unmixing isochore)
foreach(program fugacities unmixing isochore)
  execute_process(COMMAND ${WORK_DIR}/build/${program} OUTPUT_VARIABLE out COMMAND_ERROR_IS_FATAL ANY)
  file(READ ${SOURCE_DIR}/examples/library/${program}_expected_output.txt expected)
  if(NOT out STREQUAL expected)
    message(FATAL_ERROR "${program} printed:\n${out}\nexpected:\n${expected}")
  endif()
endforeach()
