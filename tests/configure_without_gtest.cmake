# Configures the project into a scratch folder with GoogleTest hidden: the configuration must
# succeed and say in one line that the unit tests are left out.
#   cmake -DSOURCE=<project> -DSCRATCH=<folder> -P configure_without_gtest.cmake
file(REMOVE_RECURSE ${SCRATCH})
execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${SCRATCH} -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
file(REMOVE_RECURSE ${SCRATCH})
if(NOT status EQUAL 0)
    message(FATAL_ERROR "configuring without GoogleTest failed:\n${output}${errors}")
endif()
string(FIND "${output}" "GoogleTest not found: the unit tests are left out" said)
if(said EQUAL -1)
    message(FATAL_ERROR "configuring without GoogleTest did not say so:\n${output}")
endif()
