# The real product: qxKorvex.dll, a 32-bit Windows DLL. It may import only
# system DLLs, so the compiler's runtime libraries are linked statically.
enable_language(RC)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${CMAKE_SOURCE_DIR}/resources -I${CMAKE_BINARY_DIR}")

file(GLOB QX_RESOURCE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/*.rc)

add_library(qxKorvex SHARED ${QX_PRODUCT_SOURCES} ${QX_RESOURCE_SOURCES}
            ${CMAKE_SOURCE_DIR}/module/qxKorvex.def)
target_include_directories(qxKorvex PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(qxKorvex PRIVATE ${QX_PRODUCT_FLAGS})
target_compile_definitions(qxKorvex PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
set_target_properties(qxKorvex PROPERTIES
  PREFIX ""
  OUTPUT_NAME qxKorvex
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
target_link_options(qxKorvex PRIVATE -s -static-libgcc -static-libstdc++ -static
                    -Wl,--enable-stdcall-fixup -Wl,--no-undefined)
target_link_libraries(qxKorvex PRIVATE ole32 oleaut32 advapi32 shell32 user32 uuid)

enable_testing()
find_program(QX_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
add_test(NAME win32.dll_image
         COMMAND ${QX_PYTHON3} ${CMAKE_SOURCE_DIR}/tests/win32/check_dll.py
                 $<TARGET_FILE:qxKorvex>)
