# Runs wixl on tamberlode.wxs (cmake -P; the variables come from
# installer/CMakeLists.txt). wixl finds the files to pack only by relative
# paths, so they are copied into a folder of their own next to the output.
get_filename_component(stage ${OUTPUT} DIRECTORY)
set(stage ${stage}/files-${VERSION})
file(REMOVE_RECURSE ${stage})
file(COPY ${EXE} ${ICON} DESTINATION ${stage})
get_filename_component(exe ${EXE} NAME)
get_filename_component(icon ${ICON} NAME)

# "Apps and features" shows the program's size in KiB.
file(SIZE ${EXE} bytes)
math(EXPR kib "(${bytes} + 1023) / 1024")

execute_process(
  COMMAND ${WIXL} --arch x86 -D Version=${VERSION} -D ProductCode=${PRODUCT_CODE}
          -D UpgradeCode=${UPGRADE_CODE} -D Exe=${exe} -D Icon=${icon} -D SizeKiB=${kib}
          -o ${OUTPUT} ${WXS}
  WORKING_DIRECTORY ${stage}
  COMMAND_ERROR_IS_FATAL ANY)
