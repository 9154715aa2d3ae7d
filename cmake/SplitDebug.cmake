# Keeps the debug information of a built binary in FILE.debug beside it and
# strips the binary, which then names that file in its debug link.
# cmake -DOBJCOPY=... -DSTRIP=... -DFILE=... -P SplitDebug.cmake
get_filename_component(dir ${FILE} DIRECTORY)
get_filename_component(name ${FILE} NAME)
execute_process(COMMAND ${OBJCOPY} --only-keep-debug ${name} ${name}.debug WORKING_DIRECTORY ${dir}
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${STRIP} --strip-debug --strip-unneeded ${name} WORKING_DIRECTORY ${dir}
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${OBJCOPY} --add-gnu-debuglink=${name}.debug ${name} WORKING_DIRECTORY ${dir}
                COMMAND_ERROR_IS_FATAL ANY)
