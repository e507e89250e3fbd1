# tvk_windows_resources(TARGET FILE DESCRIPTION [MANIFEST]): gives a
# Windows program or DLL its version resource, from the project's
# version, and with MANIFEST the manifest cmake/windows/FILE.manifest
# (configured with the version too). Nothing elsewhere.
function(tvk_windows_resources target file description)
  if(NOT WIN32)
    return()
  endif()
  set(TVK_RC_FILE ${file})
  get_filename_component(TVK_RC_NAME ${file} NAME_WE)
  set(TVK_RC_DESCRIPTION "${description}")
  if(file MATCHES "\\.dll$")
    set(TVK_RC_TYPE VFT_DLL)
  else()
    set(TVK_RC_TYPE VFT_APP)
  endif()
  set(TVK_RC_MANIFEST_LINE "")
  if("MANIFEST" IN_LIST ARGN)
    set(manifest ${CMAKE_CURRENT_BINARY_DIR}/${file}.manifest)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/${file}.manifest ${manifest} @ONLY)
    # 1 is the manifest of a program (CREATEPROCESS_MANIFEST_RESOURCE_ID),
    # 24 its resource type (RT_MANIFEST)
    set(TVK_RC_MANIFEST_LINE "1 24 \"${manifest}\"")
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${TVK_RC_NAME}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/TvkVersion.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
