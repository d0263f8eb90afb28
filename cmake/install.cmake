include(CMakePackageConfigHelpers)

install(TARGETS mvt_xml EXPORT mvt_xml_targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/mvt_xml DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT mvt_xml_targets NAMESPACE mvt_xml:: FILE mvt_xmlTargets.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/mvt_xml)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/mvt_xmlConfig.cmake.in
  ${PROJECT_BINARY_DIR}/mvt_xmlConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/mvt_xml)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/mvt_xmlConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/mvt_xmlConfig.cmake ${PROJECT_BINARY_DIR}/mvt_xmlConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/mvt_xml)

file(RELATIVE_PATH MVT_PC_TO_PREFIX "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
configure_file(${PROJECT_SOURCE_DIR}/cmake/mvt_xml.pc.in ${PROJECT_BINARY_DIR}/mvt_xml.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/mvt_xml.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
