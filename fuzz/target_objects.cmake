# What each fuzz target reaches besides the platform's exported functions,
# shared by the fuzzer build (fuzz/CMakeLists.txt, with coverage for the
# fuzzer) and the corpus replay of the ordinary builds (fuzz/replay.cmake,
# without): the platform's module resource reader and its PE image mapper,
# whose file parsers need nothing else of the platform, compiled again as
# object libraries <prefix>_resource_reader and <prefix>_pe_image with the
# options given.
function(qx_fuzz_target_objects prefix)
  set(resource_sources)
  foreach(file byte_source resource_set res_file elf_resources pe_resources)
    list(APPEND resource_sources ${CMAKE_SOURCE_DIR}/platform/kernel32/${file}.cpp)
  endforeach()
  add_library(${prefix}_resource_reader OBJECT ${resource_sources})
  target_include_directories(${prefix}_resource_reader PUBLIC
    ${CMAKE_SOURCE_DIR}/platform/include ${CMAKE_SOURCE_DIR}/platform/kernel32
    ${CMAKE_SOURCE_DIR}/platform/common)
  target_compile_options(${prefix}_resource_reader PRIVATE ${ARGN})

  file(GLOB pe_image_sources CONFIGURE_DEPENDS
       ${CMAKE_SOURCE_DIR}/platform/kernel32/loader/pe_image*.cpp)
  add_library(${prefix}_pe_image OBJECT ${pe_image_sources})
  target_include_directories(${prefix}_pe_image PUBLIC
    ${CMAKE_SOURCE_DIR}/platform/include
    ${CMAKE_SOURCE_DIR}/platform/kernel32/loader
    ${CMAKE_SOURCE_DIR}/platform/kernel32 ${CMAKE_SOURCE_DIR}/platform/common)
  target_compile_options(${prefix}_pe_image PRIVATE ${ARGN})
endfunction()

# Links a fuzz target's own objects into executable, by the target's name.
function(qx_fuzz_link_target executable name prefix)
  if(name STREQUAL "resource_reader_fuzzer")
    target_link_libraries(${executable} PRIVATE ${prefix}_resource_reader)
  elseif(name STREQUAL "pe_image_fuzzer")
    target_link_libraries(${executable} PRIVATE ${prefix}_pe_image)
  endif()
endfunction()
