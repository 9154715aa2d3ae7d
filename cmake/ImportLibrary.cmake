# The 32-bit import library of Zugen.dll. The DLL exports its __stdcall C
# functions undecorated (--kill-at), and the linker's own import library
# holds them so too, while a host built with the headers asks for the
# decorated names (_ZuGenInit@0). This writes a .def of every C export with
# the decoration the DLL's symbol table shows for it, and has dlltool -k make
# the import library from it (IMPLIB given: the 32-bit build); Visual C++
# users make theirs from the same .def (on x64 the names are plain).
# Run before the DLL is stripped.
# cmake -DNM=... -DOBJDUMP=... -DDLLTOOL=... -DDLL=... -DDEF=... -DMACHINE=x86|x64 [-DIMPLIB=...] -P ImportLibrary.cmake
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${NM} -g --defined-only ${DLL} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" start)
if(start LESS 0)
  message(FATAL_ERROR "${DLL} has no export table")
endif()
string(SUBSTRING "${dump}" ${start} -1 dump)
string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [A-Za-z_][A-Za-z0-9_]*" exports "${dump}")
get_filename_component(dll_name ${DLL} NAME)
get_filename_component(def_name ${DEF} NAME)
set(def "; The C functions of ${dll_name} (with their __stdcall decoration on x86),\n")
string(APPEND def "; written at build time from the DLL's exports. Visual C++:\n")
string(APPEND def ";   lib /def:${def_name} /machine:${MACHINE} /out:Zugen.lib\n")
string(APPEND def "LIBRARY ${dll_name}\nEXPORTS\n")
set(count 0)
foreach(line IN LISTS exports)
  string(REGEX REPLACE ".*\\] " "" name "${line}")
  # C++ names stay out: C++ hosts link the static library.
  if(name MATCHES "^_Z")
    continue()
  endif()
  if(symbols MATCHES " T _${name}(@[0-9]+)\n")
    string(APPEND def "  ${name}${CMAKE_MATCH_1}\n")
  else()
    string(APPEND def "  ${name}\n")
  endif()
  math(EXPR count "${count} + 1")
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "no C exports found in ${DLL}")
endif()
file(WRITE ${DEF} "${def}")
if(IMPLIB)
  execute_process(COMMAND ${DLLTOOL} -k -d ${DEF} -D ${dll_name} -l ${IMPLIB} COMMAND_ERROR_IS_FATAL ANY)
endif()
