# The real product: qxKorvex.dll, a 32-bit Windows DLL. It may import only
# system DLLs, so the compiler's runtime libraries are linked statically.
enable_language(RC)
set(QX_RESOURCE_DIR ${CMAKE_SOURCE_DIR}/installer/resources)
set(CMAKE_RC_FLAGS
    "${CMAKE_RC_FLAGS} -I${QX_RESOURCE_DIR} -I${QX_TYPELIB_DIR} -I${CMAKE_BINARY_DIR}")
# windres reads the script and the type library as file resources, which
# the compiler's dependency scan does not see.
set_source_files_properties(${QX_RESOURCE_DIR}/qxKorvex.rc PROPERTIES
  OBJECT_DEPENDS "${QX_RESOURCE_DIR}/qxKorvex.rgs;${QX_RESOURCE_DIR}/qxKorvex_version.h;${QX_TYPELIB_DIR}/qxKorvex.tlb")

# crt_tls_callback.cpp keeps the runtime's TLS support, and with it a TLS
# directory, out of the image; crt_pseudo_reloc.cpp its pseudo-relocation
# pass; interface_ids.cpp defines the few interface ids the library uses, in
# place of the SDK's uuid archive.
add_library(qxKorvex SHARED ${QX_RESOURCE_DIR}/qxKorvex.rc
            ${CMAKE_SOURCE_DIR}/installer/win32/crt_tls_callback.cpp
            ${CMAKE_SOURCE_DIR}/installer/win32/crt_pseudo_reloc.cpp
            ${CMAKE_SOURCE_DIR}/installer/win32/interface_ids.cpp
            ${CMAKE_SOURCE_DIR}/installer/qxKorvex.def)
target_compile_options(qxKorvex PRIVATE ${QX_PRODUCT_FLAGS})
target_link_libraries(qxKorvex PRIVATE ${QX_PRODUCT_LAYERS})
add_dependencies(qxKorvex qx_product_tlb)
set_target_properties(qxKorvex PROPERTIES
  PREFIX ""
  OUTPUT_NAME qxKorvex
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
# No time stamp in the headers: two builds of one commit give the same bytes.
# Unused sections are dropped; data from another DLL must be declared
# dllimport, so the image needs no pseudo-relocations (crt_pseudo_reloc.cpp).
target_link_options(qxKorvex PRIVATE -s -static-libgcc -static-libstdc++ -static
                    -Wl,--enable-stdcall-fixup -Wl,--no-undefined
                    -Wl,--disable-auto-import -Wl,--gc-sections
                    -Wl,--no-insert-timestamp)
target_link_libraries(qxKorvex PRIVATE ole32 oleaut32 advapi32 shell32 user32)

enable_testing()
find_program(QX_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
add_test(NAME win32.dll_image
         COMMAND ${QX_PYTHON3} ${CMAKE_SOURCE_DIR}/tests/win32/check_dll.py
                 $<TARGET_FILE:qxKorvex> ${QX_RESOURCE_DIR}/qxKorvex.rgs)

# Windows images for the 32-bit build's loader tests (tests/win32/fixtures):
# no C runtime, each entry point its own, fixed preferred bases so that a
# test can take one. build/win32/fixtures/ holds them.
set(QX_PE_FIXTURE_DIR ${CMAKE_SOURCE_DIR}/tests/win32/fixtures)
function(qx_pe_fixture name)
  cmake_parse_arguments(FIXTURE "" "BASE" "SOURCES;DEFINITIONS" ${ARGN})
  add_library(${name} SHARED ${FIXTURE_SOURCES})
  set_target_properties(${name} PROPERTIES
    PREFIX "" OUTPUT_NAME ${name}
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fixtures
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fixtures)
  target_compile_definitions(${name} PRIVATE ${FIXTURE_DEFINITIONS})
  target_link_options(${name} PRIVATE -nostdlib -s -Wl,-e,_ProbeEntry@12
                      -Wl,--dynamicbase -Wl,--image-base,${FIXTURE_BASE} -Wl,--kill-at
                      -Wl,--no-insert-timestamp)
  target_link_libraries(${name} PRIVATE kernel32)
endfunction()
qx_pe_fixture(pe_probe BASE 0x63400000
              SOURCES ${QX_PE_FIXTURE_DIR}/pe_probe.c ${QX_PE_FIXTURE_DIR}/pe_probe.def
                      ${QX_PE_FIXTURE_DIR}/pe_probe.rc)
qx_pe_fixture(pe_probe_refuses BASE 0x63500000 DEFINITIONS PROBE_REFUSES_ATTACH
              SOURCES ${QX_PE_FIXTURE_DIR}/pe_probe.c ${QX_PE_FIXTURE_DIR}/pe_probe.def)
qx_pe_fixture(pe_missing_import BASE 0x63600000
              SOURCES ${QX_PE_FIXTURE_DIR}/pe_missing_import.c)
target_link_libraries(pe_missing_import PRIVATE version)
# Imports from pe_probe.dll, through its forwarders.
qx_pe_fixture(pe_forward_user BASE 0x63700000
              SOURCES ${QX_PE_FIXTURE_DIR}/pe_forward_user.c)
target_link_libraries(pe_forward_user PRIVATE pe_probe)

# The release package: signed DLL, code-download INF, signed cabinet.
include(cmake/Win32Package.cmake)
