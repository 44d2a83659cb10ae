# The macOS plug-in bundle, from the VexorantPro module target:
#
#   VexorantPro.plugin/Contents/MacOS/VexorantPro        the module, for every architecture in
#                                                        CMAKE_OSX_ARCHITECTURES (the macos
#                                                        preset: arm64 and x86_64)
#   VexorantPro.plugin/Contents/Info.plist               cmake/macos/Info.plist.in
#   VexorantPro.plugin/Contents/PkgInfo                  package type and signature
#   VexorantPro.plugin/Contents/Resources/VexorantPro.rsrc
#                                                        the property list as resource 'PiPL'
#                                                        16000, written by vexo_pipl_gen
#
# Beside EffectMain the module exports, with C linkage, the five context functions, the constant
# VEXOGLClassStrZ and the four AEFX_ suite functions (effect/exports_macos.txt).
target_sources(VexorantPro PRIVATE ${VEXO_PIPL_RSRC})
set_source_files_properties(${VEXO_PIPL_RSRC} PROPERTIES MACOSX_PACKAGE_LOCATION Resources)
set_target_properties(VexorantPro PROPERTIES
  BUNDLE TRUE
  BUNDLE_EXTENSION plugin
  OUTPUT_NAME VexorantPro
  MACOSX_BUNDLE_INFO_PLIST ${CMAKE_SOURCE_DIR}/cmake/macos/Info.plist.in
  MACOSX_BUNDLE_BUNDLE_NAME "Vexorant Pro"
  MACOSX_BUNDLE_GUI_IDENTIFIER com.vexorant.VexorantPro
  MACOSX_BUNDLE_BUNDLE_VERSION ${PROJECT_VERSION}
  MACOSX_BUNDLE_SHORT_VERSION_STRING ${PROJECT_VERSION}
  LINK_DEPENDS ${CMAKE_SOURCE_DIR}/effect/exports_macos.txt)
target_link_options(VexorantPro PRIVATE
  -Wl,-exported_symbols_list,${CMAKE_SOURCE_DIR}/effect/exports_macos.txt)

# An effect ('eFKT') of the host's ('FXTC'), as Info.plist says too; eight bytes, no line end.
set(VEXO_PKGINFO ${CMAKE_BINARY_DIR}/generated/PkgInfo)
file(WRITE ${VEXO_PKGINFO} "eFKTFXTC")
add_custom_command(TARGET VexorantPro POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy ${VEXO_PKGINFO} $<TARGET_BUNDLE_CONTENT_DIR:VexorantPro>/PkgInfo
  VERBATIM)

# cmake --install build/macos --prefix "<the host's plug-ins folder>" copies the whole bundle.
install(TARGETS VexorantPro LIBRARY DESTINATION .)
