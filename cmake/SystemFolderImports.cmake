# The programs' imports. Windows takes a statically imported DLL from the
# program's own folder first unless it is one of its KnownDLLs, and it
# resolves those imports before any of our code runs. So setup.exe and
# Uninst.exe import statically only kernel32, advapi32 and msvcrt (KnownDLLs,
# whose own imports under Wine are harmless too); every other system DLL they
# call is a delay-loaded import that base/system_libraries.cpp loads from
# the system folder at its first use. user32, shell32 and ole32 are KnownDLLs
# on Windows, but Wine's user32 imports version.dll, which Windows' does not:
# delay-loading them keeps that import inside the system folder as well.
#
# For each such DLL a delay-import library is generated from MinGW's import
# library (its exported names) into one folder; kx_system_folder_imports(target)
# puts that folder first on the target's library path, so every -l<name>,
# also the toolchain's defaults, resolves to the delay-loaded form.

set(KX_DELAYED_SYSTEM_DLLS user32 gdi32 shell32 ole32 oleaut32 comctl32 comdlg32 version)
set(KX_DELAY_IMPORT_DIR ${CMAKE_BINARY_DIR}/delay-imports)

find_program(KX_DLLTOOL NAMES x86_64-w64-mingw32-dlltool REQUIRED)
find_program(KX_NM NAMES x86_64-w64-mingw32-nm REQUIRED)

file(MAKE_DIRECTORY ${KX_DELAY_IMPORT_DIR})
foreach(dll IN LISTS KX_DELAYED_SYSTEM_DLLS)
  set(delay_lib ${KX_DELAY_IMPORT_DIR}/lib${dll}.a)
  if(EXISTS ${delay_lib})
    continue()
  endif()
  find_library(KX_IMPORT_LIB_${dll} NAMES lib${dll}.a REQUIRED NO_CACHE)
  execute_process(COMMAND ${KX_NM} -g --defined-only ${KX_IMPORT_LIB_${dll}}
                  OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
  # Code symbols ("T") are the DLL's functions; "I" are their __imp_ slots.
  string(REGEX MATCHALL "[0-9a-fA-F]+ T [^\n]+" functions "${symbols}")
  list(TRANSFORM functions REPLACE "^[0-9a-fA-F]+ T " "")
  list(REMOVE_DUPLICATES functions)
  string(JOIN "\n" exports ${functions})
  file(WRITE ${KX_DELAY_IMPORT_DIR}/${dll}.def "LIBRARY ${dll}.dll\nEXPORTS\n${exports}\n")
  # dlltool names its helper symbols and members after the output path:
  # written from inside the folder under a bare name, they are the same in
  # every build folder, and so are the programs.
  execute_process(COMMAND ${KX_DLLTOOL} --input-def ${dll}.def --output-delaylib lib${dll}.a --dllname ${dll}.dll
                          --deterministic-libraries
                  WORKING_DIRECTORY ${KX_DELAY_IMPORT_DIR}
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()

function(kx_system_folder_imports target)
  # As a relative path: the linker orders import sections by the name of the
  # library they come from, and a build folder that sorts before or after
  # the toolchain's /usr would lay out the import tables differently.
  file(RELATIVE_PATH folder ${CMAKE_CURRENT_BINARY_DIR} ${KX_DELAY_IMPORT_DIR})
  target_link_options(${target} BEFORE PRIVATE -L${folder})
  # Regenerated libraries relink the program; a -l name alone is no dependency.
  list(TRANSFORM KX_DELAYED_SYSTEM_DLLS REPLACE "(.+)" "${KX_DELAY_IMPORT_DIR}/lib\\1.a" OUTPUT_VARIABLE libraries)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${libraries})
endfunction()
