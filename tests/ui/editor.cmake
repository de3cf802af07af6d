# The editor window, its two boxes and the save command, driven in process under
# Wine: real windows, real key events, a real vault in a temporary folder.
glimkeep_add_test(glimkeep_editor_tests GUI
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/editor_driver.cpp
    ${CMAKE_CURRENT_LIST_DIR}/editor_boxes_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/editor_save_test.cpp
    $<TARGET_OBJECTS:glimkeep_res>
  LIBS glimkeep_ui glimkeep_test_support)

# Its own program: it replaces the global operator new to run out of memory on demand.
glimkeep_add_test(glimkeep_editor_memory_tests GUI
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/editor_driver.cpp
    ${CMAKE_CURRENT_LIST_DIR}/editor_memory_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/allocation_failure.cpp
    $<TARGET_OBJECTS:glimkeep_res>
  LIBS glimkeep_ui glimkeep_test_support)
