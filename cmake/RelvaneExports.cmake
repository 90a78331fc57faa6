# relvane_export_folder(<target>)
# Makes <target> export only the folder of the CMakeLists.txt that calls this: its users (and its
# own sources) write #include "<folder>/X.h" and find nothing else of the source tree. The
# include root is a folder of the build tree holding a single link, <folder> -> the source
# folder, so an include of a layer the target does not link fails to compile.
function(relvane_export_folder target)
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  set(root ${PROJECT_BINARY_DIR}/exported/${folder})
  set(current "")
  if(IS_SYMLINK ${root}/${folder})
    file(READ_SYMLINK ${root}/${folder} current)
  endif()
  if(NOT current STREQUAL CMAKE_CURRENT_SOURCE_DIR)
    file(MAKE_DIRECTORY ${root})
    file(REMOVE ${root}/${folder})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${root})
endfunction()
