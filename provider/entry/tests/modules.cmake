# A GUI library with the two account dialogs, for the configuration entry's
# tests: it edits the array as a user would and saves it through the callback.
add_library(fakeaccountgui SHARED ${CMAKE_CURRENT_LIST_DIR}/fake_account_gui.cpp)
target_include_directories(fakeaccountgui PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(fakeaccountgui PRIVATE qmapi)
add_dependencies(quarnex_tests fakeaccountgui)
