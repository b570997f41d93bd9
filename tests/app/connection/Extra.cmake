# The link with the USB watcher reading a umockdev testbed (see tests/camera/usb).
file(GLOB pexil_link_mocks CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*Mock.cpp)
foreach(source ${pexil_link_mocks})
  pexil_add_umockdev_test(${source} pexil_connection pexil_sources pexil_virtual pexil_camera pexil_kit)
endforeach()
