# libquarnex32.so: the entries the spooler and the profile administration
# load by name ("quarnex.dll" becomes quarnex32), over the static core.
# Included by provider/CMakeLists.txt once the core exists.
quillory_library(quarnex32 SHARED ${QUARNEX_EXPORT_SOURCES})
target_link_libraries(quarnex32 PRIVATE quarnex_core)
target_compile_definitions(quarnex32 PRIVATE QUARNEX_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
  QUARNEX_VERSION_MINOR=${PROJECT_VERSION_MINOR} QUARNEX_VERSION_PATCH=${PROJECT_VERSION_PATCH})
set_target_properties(quarnex32 PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
# Hidden visibility still lets the standard library's template instances out;
# the version script keeps the exports to the entries and the resource table.
target_link_options(quarnex32 PRIVATE -Wl,--version-script=${CMAKE_CURRENT_SOURCE_DIR}/exports/exports.map)
set_property(TARGET quarnex32 APPEND PROPERTY LINK_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/exports/exports.map)

# The English string table: each concern keeps its own strings file beside
# its code (provider/<concern>/*.strings), all merged into one table.
file(GLOB QUARNEX_STRINGS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*/*.strings)
# The page the host's profile wizard shows comes from its template.
set(QUARNEX_DIALOGS 5 RESDLG_NEW_WIZ_PAGES ${CMAKE_CURRENT_SOURCE_DIR}/entry/wizard_page.dlg)
quillory_embed_resources(quarnex32 OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/quarnex_resources.cpp
  STRINGS ${QUARNEX_STRINGS} DATA ${QUARNEX_DIALOGS})

install(TARGETS quarnex32 LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/quillory)

# The provider's tests link the core directly; they carry the same string
# table and templates so that texts looked up by id (status texts) and the
# wizard page are there too. Deferred:
# the test target is defined after this file is included.
function(quarnex_embed_test_strings)
  if(TARGET quarnex_tests)
    quillory_embed_resources(quarnex_tests OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/quarnex_test_resources.cpp
      STRINGS ${QUARNEX_STRINGS} DATA ${QUARNEX_DIALOGS})
    target_link_options(quarnex_tests PRIVATE -Wl,--export-dynamic-symbol=QuilloryResourceTable)
  endif()
endfunction()
cmake_language(DEFER CALL quarnex_embed_test_strings)
