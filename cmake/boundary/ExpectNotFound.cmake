# Builds one boundary probe and passes only if the build fails because the header on the far side
# of the boundary was not found (any other failure, or a success, fails the check).
#   cmake -DBUILD_DIR=... -DTARGET=... -DHEADER=... -P ExpectNotFound.cmake
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target ${TARGET}
    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(FIND "${out}${err}" "${HEADER}: No such file or directory" found)
if(result EQUAL 0)
    message(FATAL_ERROR "${TARGET} compiled: the boundary does not hold")
elseif(found EQUAL -1)
    message(FATAL_ERROR "${TARGET} failed for another reason:\n${out}${err}")
endif()
message(STATUS "${TARGET}: ${HEADER} is out of reach, as it should be")
