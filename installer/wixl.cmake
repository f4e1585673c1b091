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
          -D Publisher=${PUBLISHER} -D Website=${WEBSITE} -D Comments=${COMMENTS}
          -o ${OUTPUT} ${WXS}
  WORKING_DIRECTORY ${stage}
  COMMAND_ERROR_IS_FATAL ANY)

# What wixl cannot say: the program's file version in the File table (it
# decides whether an install may replace a file), and a plain property-setting
# action (type 51; wixl adds a no-impersonation flag that has no meaning there)
# that runs once the folders are resolved, right after CostFinalize (wixl puts
# it at the very end, after the entry is written).
execute_process(
  COMMAND ${MSIBUILD} ${OUTPUT}
          -q "UPDATE `File` SET `Version` = '${FILE_VERSION}' WHERE `File` = 'Tamberlode.exe'"
          -q "UPDATE `CustomAction` SET `Type` = 51 WHERE `Action` = 'SetInstallLocation'"
          -q "UPDATE `InstallExecuteSequence` SET `Sequence` = 1001 WHERE `Action` = 'SetInstallLocation'"
  COMMAND_ERROR_IS_FATAL ANY)
