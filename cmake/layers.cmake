# The floors of the code, lowest first. A folder includes only its own headers and those of
# the floors below it; zv_floor makes the build of a folder's library fail on an include
# that points up or sideways, so the layering stays what the folders say it is.
set(ZV_FLOORS platform util setfile tracker cli publish online live setlist)

# zv_floor(TARGET FOLDER): checks every source and header of FOLDER before TARGET builds.
function(zv_floor target folder)
  list(FIND ZV_FLOORS ${folder} index)
  if(index LESS 0)
    message(FATAL_ERROR "zv_floor: ${folder} is not a floor")
  endif()
  list(SUBLIST ZV_FLOORS 0 ${index} below)
  list(APPEND below ${folder})
  file(GLOB files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.cpp
       ${PROJECT_SOURCE_DIR}/${folder}/*.h)
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}.floor)
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DFOLDER=${folder} "-DALLOWED=${below}" "-DFILES=${files}"
            -DSTAMP=${stamp} -P ${PROJECT_SOURCE_DIR}/cmake/check_floor.cmake
    DEPENDS ${files} ${PROJECT_SOURCE_DIR}/cmake/check_floor.cmake
    COMMENT "Checking the includes of ${folder}/"
    VERBATIM)
  add_custom_target(${target}_floor DEPENDS ${stamp})
  add_dependencies(${target} ${target}_floor)
endfunction()
