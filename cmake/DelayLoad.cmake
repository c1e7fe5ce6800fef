# Delay-loaded system DLLs for the Windows targets.
#
# A DLL imported the ordinary way is loaded before WinMain runs, and Windows looks for it in the
# executable's own folder first; a downloaded updater's folder is the downloads folder. A
# delay-loaded DLL is loaded at its first call instead, after WinMain has restricted the search to
# the system folder.
#
# qlx_delay_import_library(<out-var> <dll> <lib>) makes a delay-import library for <dll> from
# mingw-w64's own import library lib<lib>.a (every function it names, with the decorated __stdcall
# names of the 32-bit target) and stores its path in <out-var>. Link it instead of <lib>.
function(qlx_delay_import_library out_var dll lib)
  find_library(import_${lib} NAMES lib${lib}.a NO_CACHE REQUIRED)
  set(dir ${CMAKE_BINARY_DIR}/delayload)
  set(def ${dir}/${lib}.def)
  set(archive ${dir}/lib${lib}_delay.a)
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${import_${lib}})
  file(MAKE_DIRECTORY ${dir})
  execute_process(COMMAND ${CMAKE_NM} ${import_${lib}} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
  # Each function's import slot is "__imp_" plus its symbol; 32-bit symbols carry one more
  # leading underscore, which the .def leaves out (dlltool adds it back).
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(prefix "__imp__")
  else()
    set(prefix "__imp_")
  endif()
  string(REGEX MATCHALL " I ${prefix}[^\n]+" slots "${symbols}")
  set(exports "")
  foreach(slot IN LISTS slots)
    string(REGEX REPLACE "^ I ${prefix}" "" name "${slot}")
    string(APPEND exports "    ${name}\n")
  endforeach()
  list(LENGTH slots count)
  if(count EQUAL 0)
    message(FATAL_ERROR "no functions found in ${import_${lib}}")
  endif()
  file(WRITE ${def}.new "LIBRARY ${dll}\nEXPORTS\n${exports}")
  file(COPY_FILE ${def}.new ${def} ONLY_IF_DIFFERENT)
  if(NOT EXISTS ${archive} OR ${def} IS_NEWER_THAN ${archive})
    # --kill-at: the DLL exports undecorated names; the decorated ones stay the link symbols.
    # Run in its folder: dlltool names the library's symbols after the output path it is given.
    execute_process(COMMAND ${CMAKE_DLLTOOL} --kill-at --input-def ${lib}.def --output-delaylib lib${lib}_delay.a
                    WORKING_DIRECTORY ${dir} COMMAND_ERROR_IS_FATAL ANY)
  endif()
  set(${out_var} ${archive} PARENT_SCOPE)
endfunction()
