# Each fuzz target's corpus replayed as an ordinary test in every native
# build, fast and the same each run: the target's own source with
# replay_main.cpp instead of the fuzzer's driver, fed every committed seed
# (fuzz/corpus/<target without _fuzzer>/) and the seeds the fuzzer build
# adds from the build, as ctest's fuzz_replay.<target>.
include(${CMAKE_CURRENT_LIST_DIR}/target_objects.cmake)
qx_fuzz_target_objects(replay)

file(GLOB QX_REPLAY_SOURCES CONFIGURE_DEPENDS
     ${CMAKE_CURRENT_LIST_DIR}/*_fuzzer.cpp)
foreach(source IN LISTS QX_REPLAY_SOURCES)
  get_filename_component(name ${source} NAME_WE)
  string(REGEX REPLACE "_fuzzer$" "" corpus ${name})
  set(replay ${name}_replay)
  add_executable(${replay} ${source} ${CMAKE_CURRENT_LIST_DIR}/replay_main.cpp)
  target_include_directories(${replay} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${replay} PRIVATE qx_registrar qx_base
                        platform_controls_api)
  qx_fuzz_link_target(${replay} ${name} replay)
  set(inputs ${CMAKE_CURRENT_LIST_DIR}/corpus/${corpus})
  if(name STREQUAL "registrar_script_fuzzer")
    list(APPEND inputs ${CMAKE_SOURCE_DIR}/installer/resources/qxKorvex.rgs)
  elseif(name STREQUAL "typelib_fuzzer")
    list(APPEND inputs ${QX_TYPELIB_DIR}/qxKorvex.tlb
         ${QX_TYPELIB_DIR}/stdole2.tlb)
    add_dependencies(${replay} qx_product_tlb qx_stdole2_tlb)
  elseif(name STREQUAL "pe_image_fuzzer")
    list(APPEND inputs ${CMAKE_SOURCE_DIR}/tests/platform/fixtures/pe_features.dll)
    if(EXISTS ${QX_WIN32_DLL})
      list(APPEND inputs ${QX_WIN32_DLL})
    endif()
  endif()
  add_test(NAME fuzz_replay.${name} COMMAND ${replay} ${inputs})
  set_tests_properties(fuzz_replay.${name} PROPERTIES TIMEOUT 120)
endforeach()
