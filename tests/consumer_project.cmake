# Installs the library into a staging prefix, then configures, builds and runs
# the example consumer project against it. Arguments: -DBUILD_DIR, -DSOURCE_DIR,
# -DWORK_DIR, and -DCXX_FLAGS, the flags the library was built with (a
# sanitizer build's library needs its runtime in the consumer too).
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix
                COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/library -B ${WORK_DIR}/build
                        -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix -DCMAKE_BUILD_TYPE=Release
                        "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
                COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build COMMAND_ERROR_IS_FATAL ANY
                OUTPUT_QUIET)
execute_process(COMMAND ${WORK_DIR}/build/fugacities OUTPUT_VARIABLE out COMMAND_ERROR_IS_FATAL ANY)
file(READ ${SOURCE_DIR}/examples/library/expected_output.txt expected)
if(NOT out STREQUAL expected)
  message(FATAL_ERROR "the example printed:\n${out}\nexpected:\n${expected}")
endif()
