# Import libraries that load their DLL on the first call into it. The bar links the DLLs it does
# not need before it shows this way: under Wine each DLL loaded before main delays the bar.
find_program(MINGW_DLLTOOL NAMES ${TOOLCHAIN_PREFIX}-dlltool dlltool)
find_program(MINGW_NM NAMES ${TOOLCHAIN_PREFIX}-nm nm)

# Sets ${out_var} to the delay-loading import libraries of the named system DLLs.
function(orvane_delay_imports out_var)
  set(libs)
  foreach(dll ${ARGN})
    find_library(${dll}_IMPORT_LIB NAMES lib${dll}.a ${dll})
    if(NOT ${dll}_IMPORT_LIB OR NOT MINGW_DLLTOOL OR NOT MINGW_NM)
      message(FATAL_ERROR "No import library or tools to make a delay-loading ${dll} library")
    endif()
    # The exported functions, read off the import library.
    execute_process(COMMAND ${MINGW_NM} -g --defined-only ${${dll}_IMPORT_LIB}
                    OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "Could not list ${${dll}_IMPORT_LIB}")
    endif()
    string(REGEX MATCHALL "[0-9a-fA-F]+ T [A-Za-z_][A-Za-z0-9_@?$]*" functions "${symbols}")
    set(def "LIBRARY ${dll}.dll\nEXPORTS\n")
    foreach(line ${functions})
      string(REGEX REPLACE "^[0-9a-fA-F]+ T " "" name "${line}")
      string(APPEND def "  ${name}\n")
    endforeach()
    set(def_file ${CMAKE_BINARY_DIR}/delayload/${dll}.def)
    file(WRITE ${def_file}.new "${def}")
    configure_file(${def_file}.new ${def_file} COPYONLY)  # rewritten only when it changes
    set(lib ${CMAKE_BINARY_DIR}/delayload/lib${dll}_delay.a)
    add_custom_command(OUTPUT ${lib}
      COMMAND ${MINGW_DLLTOOL} --input-def ${def_file} --dllname ${dll}.dll --output-delaylib ${lib}
      DEPENDS ${def_file} VERBATIM)
    list(APPEND libs ${lib})
  endforeach()
  add_custom_target(delayload_libs DEPENDS ${libs})
  set(${out_var} ${libs} PARENT_SCOPE)
endfunction()
