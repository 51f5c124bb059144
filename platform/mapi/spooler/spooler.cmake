# A scripted transport provider for the spooler tests ("qtestxp.dll" in their
# service lists), built beside libqmapi.so where the module loader finds it.
if(TARGET qmapi_spooler_tests)
  add_library(qtestxp32 SHARED ${CMAKE_CURRENT_SOURCE_DIR}/spooler/tests/test_transport.cpp)
  target_include_directories(qtestxp32 PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(qtestxp32 PRIVATE qmapi)
  quillory_warnings(qtestxp32)
  add_dependencies(qmapi_spooler_tests qtestxp32)
endif()
