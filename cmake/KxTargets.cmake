# The kinds of target the programs are made of. Each folder declares its own
# targets with these, so that the top level names none of them.

# kx_program_library(name sources...)
# A static library of code that goes into setup.exe and Uninst.exe. The two
# programs are optimised across files at link time, which drops and merges a
# tenth of their code; their libraries carry both that form and ordinary code
# (fat objects), so that the core library and the tests link the ordinary
# code.
function(kx_program_library name)
  add_library(${name} STATIC ${ARGN})
  target_compile_options(${name} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-flto=auto -ffat-lto-objects>)
endfunction()

# kx_program(name RC file SOURCES files... LIBRARIES libraries...)
# One of the two programs' loaders: a few lines of main over the launcher's
# loader steps (launcher/program_entry.h),
# with the shared manifest, string table and icon, optimised at link time,
# stripped, without the C runtime's start-up, with the runtime archive's
# decoder only, and importing only kernel32, advapi32 and msvcrt statically
# (cmake/SystemFolderImports.cmake).
function(kx_program name)
  cmake_parse_arguments(ARG "" "RC" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} WIN32 ${ARG_SOURCES} ${ARG_RC})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES})
  target_compile_options(${name} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-flto=auto -ffat-lto-objects>)
  # The runtime archive's decoder only: LZMA, BCJ2 and stored entries.
  set_target_properties(${name} PROPERTIES KX_LINK_TIME_OPTIMISED ON KX_RUNTIME_DECODER ON)
  # No C runtime start-up: LoaderEntry (launcher/program_main.cpp) is the
  # entry point.
  target_link_options(${name} PRIVATE -nostartfiles -Wl,-e,LoaderEntry -s -flto=auto)
  kx_system_folder_imports(${name})
endfunction()

# kx_program_module(name SOURCES files... LIBRARIES libraries...)
# The program library kxprogram64.dll, what both programs run once their
# runtime is unpacked: optimised at link time and stripped like the loaders,
# and taking its system DLLs from the system folder at their first use as
# they do.
function(kx_program_module name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES})
  target_compile_options(${name} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-flto=auto -ffat-lto-objects>)
  set_target_properties(${name} PROPERTIES KX_LINK_TIME_OPTIMISED ON PREFIX "")
  target_link_options(${name} PRIVATE -s -flto=auto)
  kx_system_folder_imports(${name})
endfunction()
