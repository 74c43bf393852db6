# korvo_subsystem(NAME [SOURCES files...] [PUBLIC deps...] [PRIVATE deps...])
#
# Declares the one static library of the subsystem in the current folder.
# The layer order is the folder list of the README's layout section, read
# here so that it is written down once: a subsystem may link only subsystems
# of folders listed above its own, and the configure step fails on a link
# that points up (or sideways, to a subsystem not declared yet). Every
# subsystem's objects go into libkorvo_core (KORVO_SUBSYSTEMS).

function(korvo_read_layers)
  file(STRINGS ${CMAKE_SOURCE_DIR}/README.md lines)
  set(in_layout FALSE)
  set(layers "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^## ")
      if(line STREQUAL "## Layout")
        set(in_layout TRUE)
      else()
        set(in_layout FALSE)
      endif()
    elseif(in_layout AND line MATCHES "^    ([a-z0-9_/]+)/ ")
      list(APPEND layers "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  if(NOT layers)
    message(FATAL_ERROR "README.md: no folders in the layout section")
  endif()
  set_property(GLOBAL PROPERTY KORVO_LAYERS "${layers}")
endfunction()

function(korvo_subsystem name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
  get_property(layers GLOBAL PROPERTY KORVO_LAYERS)
  file(RELATIVE_PATH folder ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  list(FIND layers "${folder}" layer)
  if(layer EQUAL -1)
    message(FATAL_ERROR "${name}: folder ${folder}/ is not in the README's layout section")
  endif()
  get_property(declared GLOBAL PROPERTY KORVO_SUBSYSTEMS)
  foreach(dep IN LISTS ARG_PUBLIC ARG_PRIVATE)
    if(NOT dep MATCHES "^(core|services)_")
      continue()
    endif()
    if(NOT dep IN_LIST declared)
      message(FATAL_ERROR "${name} (${folder}/) links ${dep}, which is not a subsystem of a "
                          "layer below: links point down the README's layout list only")
    endif()
    get_target_property(dep_layer ${dep} KORVO_LAYER)
    get_target_property(dep_folder ${dep} KORVO_FOLDER)
    if(NOT dep_layer LESS layer)
      message(FATAL_ERROR "${name} (${folder}/) links ${dep} (${dep_folder}/), "
                          "a layer that is not below it")
    endif()
  endforeach()
  add_library(${name} STATIC ${ARG_SOURCES})
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
  set_target_properties(${name} PROPERTIES KORVO_LAYER ${layer} KORVO_FOLDER ${folder})
  set_property(GLOBAL APPEND PROPERTY KORVO_SUBSYSTEMS ${name})
endfunction()
