# Modules the session tests load by name: a GUI library with all three entries
# and one without "FillIS". The dialling services come with the news component.
foreach(variant fakevismora fakevismora_nofill)
  add_library(${variant} SHARED ${CMAKE_CURRENT_LIST_DIR}/fake_gui_module.cpp)
  target_include_directories(${variant} PRIVATE ${PROJECT_SOURCE_DIR})
  add_dependencies(quarnex_tests ${variant})
endforeach()
target_compile_definitions(fakevismora_nofill PRIVATE FAKE_GUI_WITHOUT_FILLIS)
if(TARGET inetcomm)
  add_dependencies(quarnex_tests inetcomm)
endif()
