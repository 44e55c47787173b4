# Builds one layer probe (see CMakeLists.txt) and checks the outcome.
#   cmake -DBUILD_DIR=... -DTARGET=... -DHEADER=... -DEXPECT=builds|fails -P BuildProbe.cmake
execute_process(COMMAND "${CMAKE_COMMAND}" --build "${BUILD_DIR}" --target "${TARGET}"
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(EXPECT STREQUAL "builds")
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "including ${HEADER} should build here, but did not:\n${output}")
  endif()
elseif(EXPECT STREQUAL "fails")
  if(result EQUAL 0)
    message(FATAL_ERROR "including ${HEADER} built, though this layer must not see it")
  endif()
  # Failing for any other reason (a broken tree, a busy build folder) proves nothing.
  string(FIND "${output}" "'${HEADER}' file not found" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the probe failed, but not for want of ${HEADER}:\n${output}")
  endif()
else()
  message(FATAL_ERROR "EXPECT must be builds or fails, not '${EXPECT}'")
endif()
