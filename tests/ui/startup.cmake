# The text helpers, the message dialog and the two password windows, in process.
# The resources (dialog template 209, the pictures, the icon) are linked in.
glimkeep_add_test(text_helpers_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_test.cpp
  LIBS glimkeep_ui glimkeep_test_support GUI)

glimkeep_add_test(message_dialog_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/message_dialog_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/window_driver.cpp
          $<TARGET_OBJECTS:glimkeep_res>
  LIBS glimkeep_ui glimkeep_test_support GUI)

glimkeep_add_test(password_windows_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/password_windows_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/allocation_failure.cpp
          ${CMAKE_CURRENT_LIST_DIR}/window_driver.cpp
          $<TARGET_OBJECTS:glimkeep_res>
  LIBS glimkeep_ui glimkeep_test_support GUI)

glimkeep_add_test(resources_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/resources_test.cpp
          $<TARGET_OBJECTS:glimkeep_res>
  LIBS glimkeep_ui glimkeep_test_support version GUI)
