# Configures this tree against a fake SDK made from sdk/ (fake_sdk.cmake) with nothing but
# -DVEXO_HOST_SDK_DIR, then builds and runs the host layout check there.
#   cmake -DSOURCE_DIR= -DWORK_DIR= -DGENERATOR= -P check_sdk_build.cmake
set(examples ${WORK_DIR}/sdk/Examples)
execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${SOURCE_DIR} -DEXAMPLES=${examples}
  -P ${CMAKE_CURRENT_LIST_DIR}/fake_sdk.cmake COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
  -DVEXO_HOST_SDK_DIR=${examples} COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build
  --target vexo_host_layout_check COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${WORK_DIR}/build/bin/vexo_host_layout_check COMMAND_ERROR_IS_FATAL ANY)
