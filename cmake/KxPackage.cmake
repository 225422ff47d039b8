# Helpers that stage runtime folders and build packages with kxpack.

# kx_stage_folder(NAME name DESTINATION dir FILES src=dest ... DEPENDS ...)
# Copies each source to dest inside the folder (fresh each time) and gives
# every file the release time. Defines target ${name}.
function(kx_stage_folder)
  cmake_parse_arguments(ARG "" "NAME;DESTINATION" "FILES;DEPENDS" ${ARGN})
  set(commands COMMAND ${CMAKE_COMMAND} -E rm -rf ${ARG_DESTINATION}
               COMMAND ${CMAKE_COMMAND} -E make_directory ${ARG_DESTINATION})
  set(sources)
  foreach(pair IN LISTS ARG_FILES)
    string(REPLACE "=" ";" parts "${pair}")
    list(GET parts 0 source)
    list(GET parts 1 dest)
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy ${source} ${ARG_DESTINATION}/${dest})
    list(APPEND sources ${source})
  endforeach()
  set(stamp ${ARG_DESTINATION}.stamp)
  add_custom_command(OUTPUT ${stamp}
    ${commands}
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/stage-times.sh ${ARG_DESTINATION}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${sources} ${ARG_DEPENDS}
    VERBATIM)
  add_custom_target(${ARG_NAME} DEPENDS ${stamp})
endfunction()

# kx_add_package(NAME target OUTPUT file STUB stub_target RUNTIME dir
#                [PAYLOAD dir] [DEPENDS targets...] [ARGS extra kxpack arguments])
function(kx_add_package)
  cmake_parse_arguments(ARG "" "NAME;OUTPUT;STUB;RUNTIME;PAYLOAD" "DEPENDS;ARGS" ${ARGN})
  set(payload_args)
  if(ARG_PAYLOAD)
    set(payload_args --payload ${ARG_PAYLOAD})
  endif()
  add_custom_command(OUTPUT ${ARG_OUTPUT}
    COMMAND ${KX_KXPACK} build --stub $<TARGET_FILE:${ARG_STUB}> --runtime ${ARG_RUNTIME}
            ${payload_args} ${ARG_ARGS} --out ${ARG_OUTPUT}
    DEPENDS host_tools ${KX_KXPACK} ${ARG_STUB} ${ARG_DEPENDS} ${ARG_RUNTIME}.stamp
    VERBATIM)
  add_custom_target(${ARG_NAME} ALL DEPENDS ${ARG_OUTPUT})
endfunction()
