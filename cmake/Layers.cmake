# The layers of the product, each folder its own target. A layer's headers
# are reached as "<folder>/<file>.h" through an include root that holds that
# one folder, so a target sees exactly the layers it links: an include that
# points upward (the framework naming the product, say) fails to build.
#
#   qx_layer(<folder> [HEADERS_ONLY] [USES <folder>...])
#
# makes qx_<folder>: an object library of <folder>/*.cpp (or a header-only
# interface library) with <folder>'s include root, linking the layers it
# uses privately. Whoever includes a layer's headers links that layer.

# The include root of a folder: a directory holding a link to that folder.
function(qx_include_root folder out)
  set(root ${CMAKE_BINARY_DIR}/include-roots/${folder})
  if(NOT EXISTS ${root}/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  set(${out} ${root} PARENT_SCOPE)
endfunction()

function(qx_layer folder)
  cmake_parse_arguments(LAYER "HEADERS_ONLY" "" "USES" ${ARGN})
  qx_include_root(${folder} root)
  set(target qx_${folder})
  if(LAYER_HEADERS_ONLY)
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${root})
    target_link_libraries(${target} INTERFACE ${QX_SYSTEM_TARGETS})
    return()
  endif()
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.cpp)
  add_library(${target} OBJECT ${sources})
  target_include_directories(${target} PUBLIC ${root})
  target_compile_options(${target} PRIVATE ${QX_PRODUCT_FLAGS})
  target_compile_definitions(${target} PRIVATE ${QX_PRODUCT_DEFINITIONS})
  foreach(used IN LISTS LAYER_USES)
    target_link_libraries(${target} PRIVATE qx_${used})
  endforeach()
  target_link_libraries(${target} PRIVATE ${QX_SYSTEM_TARGETS})
endfunction()
