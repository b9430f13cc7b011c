# The native library's resources: the DLL's resource script compiled once
# more with windres into a resource file (.res, the same on every
# architecture) and carried in the library as the non-allocated ELF section
# ".rsrc", where the platform's resource functions read it from the file.
#
#   qx_native_resources(<target> RC <file.rc> INCLUDE_DIRS <dir>...
#                       DEPENDS <file>...)
#
# DEPENDS are the files the script pulls in as file resources, which a
# preprocessor dependency scan cannot see.
find_program(QX_WINDRES NAMES i686-w64-mingw32-windres REQUIRED)

function(qx_native_resources target)
  cmake_parse_arguments(RES "" "RC" "INCLUDE_DIRS;DEPENDS" ${ARGN})
  get_filename_component(name ${RES_RC} NAME_WE)
  set(out_dir ${CMAKE_BINARY_DIR}/resources)
  set(res ${out_dir}/${name}.res)
  set(include_flags)
  foreach(dir IN LISTS RES_INCLUDE_DIRS)
    list(APPEND include_flags -I ${dir})
  endforeach()
  add_custom_command(
    OUTPUT ${res}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out_dir}
    COMMAND ${QX_WINDRES} ${include_flags} -O res -o ${res} ${RES_RC}
    DEPENDS ${RES_RC} ${RES_DEPENDS}
    COMMENT "windres: ${res}"
    VERBATIM)
  # The section is written by the assembler behind the compiler, so no
  # assembler language (and none of its flag handling) is needed.
  set(carrier ${out_dir}/${name}_rsrc.cpp)
  file(CONFIGURE OUTPUT ${carrier} CONTENT
"// Generated: carries ${name}.res as the .rsrc section.
__asm__(\".pushsection .rsrc,\\\"\\\",@progbits\\n\"
        \".incbin \\\"${res}\\\"\\n\"
        \".popsection\\n\");
" @ONLY)
  set_source_files_properties(${carrier} PROPERTIES OBJECT_DEPENDS ${res})
  target_sources(${target} PRIVATE ${carrier})
endfunction()
