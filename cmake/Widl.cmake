# Type libraries compiled with widl from the mingw-w64 tools.
#
#   qx_type_library(<target> IDL <file> OUTPUT <file.tlb> KIND win32|win64
#                   [IMPORT_DIRS <dir>...] [DEPENDS <file>...])
#
# KIND is the system kind written into the library: win32 for the DLL,
# win64 for a library loaded by a 64-bit native process. IMPORT_DIRS are
# where importlib() finds its libraries; the folder of the IDL and the
# platform's base IDL are on the import path.
find_program(QX_WIDL NAMES i686-w64-mingw32-widl widl REQUIRED)
set(QX_BASE_IDL_DIR ${CMAKE_SOURCE_DIR}/platform/oleaut32/stdole2)

# widl writes the time it ran into every library it makes, and with it into
# the DLL. It runs under faketime at the source's own date instead, so that
# two builds of one commit give the same bytes: SOURCE_DATE_EPOCH when the
# environment sets it, else the time of the commit checked out.
# QX_SOURCE_DATE_EPOCH keeps that date for the rest of the build (the
# package's file times and signing time).
set(epoch "$ENV{SOURCE_DATE_EPOCH}")
if(epoch STREQUAL "")
  execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE git_status ERROR_QUIET)
  if(NOT git_status EQUAL 0 OR epoch STREQUAL "")
    set(epoch 0)
  endif()
endif()
set(QX_SOURCE_DATE_EPOCH ${epoch})
if(NOT DEFINED QX_WIDL_COMMAND)
  find_program(QX_FAKETIME faketime REQUIRED)
  set(saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
  set(ENV{SOURCE_DATE_EPOCH} ${epoch})
  string(TIMESTAMP source_date "%Y-%m-%d %H:%M:%S" UTC)
  set(ENV{SOURCE_DATE_EPOCH} "${saved_epoch}")
  set(QX_WIDL_COMMAND ${CMAKE_COMMAND} -E env TZ=UTC
      ${QX_FAKETIME} -f "@${source_date}" ${QX_WIDL})
endif()

function(qx_type_library target)
  cmake_parse_arguments(TL "" "IDL;OUTPUT;KIND" "IMPORT_DIRS;DEPENDS" ${ARGN})
  get_filename_component(idl_dir ${TL_IDL} DIRECTORY)
  set(import_flags)
  foreach(dir IN LISTS TL_IMPORT_DIRS)
    list(APPEND import_flags -L ${dir})
  endforeach()
  get_filename_component(out_dir ${TL_OUTPUT} DIRECTORY)
  add_custom_command(
    OUTPUT ${TL_OUTPUT}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out_dir}
    COMMAND ${QX_WIDL_COMMAND} --${TL_KIND} -t -I ${idl_dir} -I ${QX_BASE_IDL_DIR}
            ${import_flags} -o ${TL_OUTPUT} ${TL_IDL}
    DEPENDS ${TL_IDL} ${QX_BASE_IDL_DIR}/base.idl ${TL_DEPENDS}
    COMMENT "widl ${TL_KIND}: ${TL_OUTPUT}"
    VERBATIM)
  add_custom_target(${target} DEPENDS ${TL_OUTPUT})
endfunction()

# The platform's stdole2 (platform/oleaut32/stdole2/stdole2.idl). Where the
# build has the tool that puts its types in the system library's order
# (order_types.cpp says why), the compiled library goes through it; the
# Windows build, which only compiles other libraries against stdole2, has
# no such tool and needs none.
#
#   qx_stdole2_library(<target> OUTPUT <file.tlb> KIND win32|win64)
function(qx_stdole2_library target)
  cmake_parse_arguments(SL "" "OUTPUT;KIND" "" ${ARGN})
  set(idl ${QX_BASE_IDL_DIR}/stdole2.idl)
  if(NOT TARGET qx_stdole2_order)
    qx_type_library(${target} IDL ${idl} OUTPUT ${SL_OUTPUT} KIND ${SL_KIND})
    return()
  endif()
  get_filename_component(out_dir ${SL_OUTPUT} DIRECTORY)
  add_custom_command(
    OUTPUT ${SL_OUTPUT}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out_dir}
    COMMAND ${QX_WIDL_COMMAND} --${SL_KIND} -t -I ${QX_BASE_IDL_DIR}
            -o ${SL_OUTPUT}.compiled ${idl}
    # By its file: the 32-bit build counts as cross-compiling, where CMake
    # would not find a tool by its target name, yet the machine runs it.
    COMMAND $<TARGET_FILE:qx_stdole2_order> ${SL_OUTPUT}.compiled ${SL_OUTPUT}
            FontEvents IFontEventsDisp
    DEPENDS ${idl} qx_stdole2_order
    BYPRODUCTS ${SL_OUTPUT}.compiled
    COMMENT "widl ${SL_KIND}: ${SL_OUTPUT}"
    VERBATIM)
  add_custom_target(${target} DEPENDS ${SL_OUTPUT})
endfunction()
