# A Windows program's version resource (VERSIONINFO, from the project's
# version: Explorer's Details tab, the installer) and its manifest: long
# paths (with the system's LongPathsEnabled), UTF-8 as the process code page
# (Windows 10 1903 and later; the program uses the wide API for its files
# anyway), the Windows versions it was made for, no elevation.
#
#   tern_windows_resources(<target> <name> <description>)
enable_language(RC)

function(tern_windows_resources target name description)
  set(TERN_RC_NAME ${name})
  set(TERN_RC_DESCRIPTION ${description})
  set(TERN_RC_VERSION_MAJOR ${PROJECT_VERSION_MAJOR})
  set(TERN_RC_VERSION_MINOR ${PROJECT_VERSION_MINOR})
  if(PROJECT_VERSION_PATCH)
    set(TERN_RC_VERSION_PATCH ${PROJECT_VERSION_PATCH})
  else()
    set(TERN_RC_VERSION_PATCH 0)
  endif()
  set(TERN_RC_VERSION ${PROJECT_VERSION})
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources)
  set(TERN_RC_MANIFEST ${dir}/${name}.exe.manifest)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/app.manifest.in ${TERN_RC_MANIFEST} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/version.rc.in ${dir}/${name}.rc @ONLY)
  target_sources(${target} PRIVATE ${dir}/${name}.rc)
  set_property(SOURCE ${dir}/${name}.rc APPEND PROPERTY OBJECT_DEPENDS ${TERN_RC_MANIFEST})
  if(MSVC)
    target_link_options(${target} PRIVATE /MANIFEST:NO)  # the resource is the manifest
  endif()
endfunction()
