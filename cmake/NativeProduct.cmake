# The native build: the platform layer, the product against it, the host,
# tests, benchmarks and fuzzers.
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

add_subdirectory(platform)

# The product's objects, linked statically into the unit tests and the
# fuzzer, and as libqxKorvex.so for hosts.
add_library(qxkorvex_core STATIC ${QX_PRODUCT_SOURCES})
target_include_directories(qxkorvex_core PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(qxkorvex_core PRIVATE ${QX_PRODUCT_FLAGS})
target_link_libraries(qxkorvex_core PUBLIC platform)

add_library(qxKorvex SHARED ${QX_PRODUCT_SOURCES})
target_include_directories(qxKorvex PRIVATE ${CMAKE_SOURCE_DIR})
# The version script exports the entry points and hides everything else, as
# the .def file does for the DLL.
target_compile_options(qxKorvex PRIVATE ${QX_PRODUCT_FLAGS})
target_link_libraries(qxKorvex PRIVATE platform)
target_link_options(qxKorvex PRIVATE
  -Wl,--version-script=${CMAKE_SOURCE_DIR}/module/qxKorvex.map)
# Every symbol must resolve against the platform, as every import of the DLL
# must resolve against system DLLs. Sanitizer runtimes live in the host
# executable, so the check is left to the plain build.
if(NOT QX_SANITIZE)
  target_link_options(qxKorvex PRIVATE -Wl,--no-undefined)
endif()
set_target_properties(qxKorvex PROPERTIES LINK_DEPENDS ${CMAKE_SOURCE_DIR}/module/qxKorvex.map)

add_subdirectory(tools)

enable_testing()
add_subdirectory(tests)
if(QX_BENCH)
  add_subdirectory(bench)
endif()
if(QX_FUZZ)
  add_subdirectory(fuzz)
endif()
