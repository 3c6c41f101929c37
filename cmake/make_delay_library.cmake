# Makes an import library whose functions load their system library at the first call instead of at
# the program's start (cmake -P, from tandrel_delay_loaded_libraries in helpers.cmake):
#     -DNM=... -DDLLTOOL=... -DDLL=user32 -DIMPORT_LIB=.../libuser32.a -DDEF=... -DOUT=...
# The functions are those of the toolchain's ordinary import library.
execute_process(COMMAND ${NM} ${IMPORT_LIB} OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} cannot read ${IMPORT_LIB}")
endif()
string(REGEX MATCHALL " I __imp_[A-Za-z0-9_]+" imports "${symbols}")
set(names)
foreach(item IN LISTS imports)
    string(REPLACE " I __imp_" "" name "${item}")
    list(APPEND names ${name})
endforeach()
list(REMOVE_DUPLICATES names)
list(SORT names)
list(JOIN names "\n    " exports)
file(WRITE ${DEF} "LIBRARY ${DLL}.dll\nEXPORTS\n    ${exports}\n")
# dlltool names the library's symbols after the output file as given (__IAT_<name mangled>): it
# runs in the output's folder and is given the bare file name, so that no build path gets into a
# program's symbols.
get_filename_component(out_dir ${OUT} DIRECTORY)
get_filename_component(out_name ${OUT} NAME)
execute_process(COMMAND ${DLLTOOL} --input-def ${DEF} --dllname ${DLL}.dll --output-delaylib ${out_name}
                WORKING_DIRECTORY ${out_dir} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${DLLTOOL} cannot make ${OUT}")
endif()
