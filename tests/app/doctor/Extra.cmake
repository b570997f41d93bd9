# The doctor's USB findings against fake devices in a umockdev testbed (see
# tests/camera/usb/Extra.cmake, which defines pexil_add_umockdev_test).
file(GLOB pexil_doctor_mocks CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*Mock.cpp)
foreach(source ${pexil_doctor_mocks})
  pexil_add_umockdev_test(${source} pexil_doctor pexil_camera pexil_kit)
endforeach()
