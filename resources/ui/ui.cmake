# The configuration dialog's icon, pointer and receiver schematic, as resources of a
# Windows module: the plugin library, or a test program that shows the dialog.
function(sfh_add_ui_resources target)
  set(SFH_UI_RESOURCES_DIR ${CMAKE_CURRENT_FUNCTION_LIST_DIR})
  target_sources(${target} PRIVATE ${SFH_UI_RESOURCES_DIR}/config_ui.rc)
  # windres finds the files named in the script through its include path.
  set_property(SOURCE ${SFH_UI_RESOURCES_DIR}/config_ui.rc TARGET_DIRECTORY ${target} APPEND
               PROPERTY INCLUDE_DIRECTORIES ${SFH_UI_RESOURCES_DIR})
  set_property(SOURCE ${SFH_UI_RESOURCES_DIR}/config_ui.rc TARGET_DIRECTORY ${target} APPEND
               PROPERTY OBJECT_DEPENDS ${SFH_UI_RESOURCES_DIR}/config_box.ico
               ${SFH_UI_RESOURCES_DIR}/receiver_schematic.bmp ${SFH_UI_RESOURCES_DIR}/multi_drag.cur)
endfunction()

if(TARGET sfh56)
  sfh_add_ui_resources(sfh56)
endif()

# The artwork in the repository is what its drawings give.
if(NOT WIN32)
  find_package(Python3 COMPONENTS Interpreter)
  if(Python3_FOUND)
    add_test(NAME ui_artwork_rendered_from_source
             COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/render_art.py --check)
  endif()
endif()
