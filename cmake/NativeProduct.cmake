# The native build: the product against the platform layer as
# libqxKorvex.so, the host, tests, benchmarks and fuzzers.
add_library(qxKorvex SHARED)
target_link_libraries(qxKorvex PRIVATE ${QX_PRODUCT_LAYERS} platform)
# The version script exports the entry points and hides everything else, as
# the .def file does for the DLL.
set(QX_VERSION_SCRIPT ${CMAKE_SOURCE_DIR}/installer/qxKorvex.map)
target_link_options(qxKorvex PRIVATE -Wl,--version-script=${QX_VERSION_SCRIPT})
# Every symbol must resolve against the platform, as every import of the DLL
# must resolve against system DLLs. Sanitizer runtimes live in the host
# executable, so the check is left to the plain build.
if(NOT QX_SANITIZE AND NOT QX_SANITIZE_THREAD)
  target_link_options(qxKorvex PRIVATE -Wl,--no-undefined)
endif()
set_target_properties(qxKorvex PROPERTIES LINK_DEPENDS ${QX_VERSION_SCRIPT})
# The same resource script as the DLL's, read back by FindResourceA.
include(cmake/NativeResources.cmake)
set(QX_RESOURCE_DIR ${CMAKE_SOURCE_DIR}/installer/resources)
qx_native_resources(qxKorvex RC ${QX_RESOURCE_DIR}/qxKorvex.rc
                    INCLUDE_DIRS ${QX_RESOURCE_DIR} ${QX_TYPELIB_DIR}
                    DEPENDS ${QX_RESOURCE_DIR}/qxKorvex.rgs ${QX_RESOURCE_DIR}/qxKorvex_version.h
                            ${QX_TYPELIB_DIR}/qxKorvex.tlb)

# The real DLL, when its build ran before this one was configured (as the
# test script runs them). The 32-bit build runs it: there the end-to-end and
# host suites drive it instead of the native library, expecting the same.
set(QX_WIN32_DLL ${CMAKE_SOURCE_DIR}/build/win32/qxKorvex.dll CACHE FILEPATH
    "The win32 DLL the native tests read back and the 32-bit build runs")
set(QX_DRIVE_WIN32_DLL OFF)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  if(NOT EXISTS ${QX_WIN32_DLL})
    message(FATAL_ERROR "The 32-bit build runs the win32 DLL: build the win32 "
                        "preset first (${QX_WIN32_DLL} is missing)")
  endif()
  set(QX_DRIVE_WIN32_DLL ON)
endif()

add_subdirectory(tools)

enable_testing()
add_subdirectory(tests)
if(QX_BENCH)
  add_subdirectory(bench)
endif()
if(QX_FUZZ)
  add_subdirectory(fuzz)
endif()
