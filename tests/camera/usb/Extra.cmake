# Tests against fake USB devices in a umockdev testbed. Each *Mock.cpp is one test
# executable that must run with umockdev's preload library (umockdev-wrapper), which
# redirects /sys, /dev and the uevent socket into the testbed; that is why they are not
# named *Test.cpp and are registered through pexil_add_umockdev_test (other folders use it
# too). A script that does not match leaves the program waiting, so each run has a
# time-out of its own.
find_package(PkgConfig REQUIRED)
pkg_check_modules(PEXIL_UMOCKDEV IMPORTED_TARGET umockdev-1.0)
pkg_check_modules(PEXIL_USB_TEST_LIBUSB IMPORTED_TARGET libusb-1.0)
find_program(PEXIL_UMOCKDEV_WRAPPER umockdev-wrapper)
if(PEXIL_UMOCKDEV_FOUND AND PEXIL_USB_TEST_LIBUSB_FOUND AND PEXIL_UMOCKDEV_WRAPPER)
  set(PEXIL_HAVE_UMOCKDEV ON)
else()
  set(PEXIL_HAVE_UMOCKDEV OFF)
  message(WARNING "umockdev (packages libumockdev-dev and umockdev) not found: "
                  "the USB tests under umockdev are not built")
endif()

# pexil_add_umockdev_test(SOURCE LIBS...): one executable named after SOURCE.
function(pexil_add_umockdev_test source)
  if(NOT PEXIL_HAVE_UMOCKDEV)
    return()
  endif()
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE ${ARGN} pexil_testsupport
    GTest::gtest GTest::gmock PkgConfig::PEXIL_UMOCKDEV PkgConfig::PEXIL_USB_TEST_LIBUSB)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/camera/usb)
  target_compile_options(${name} PRIVATE -Wno-missing-field-initializers)
  # Messages name files of the source tree (the udev rule); tests check that they exist.
  target_compile_definitions(${name} PRIVATE PEXIL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_test(NAME ${name} COMMAND ${PEXIL_UMOCKDEV_WRAPPER} $<TARGET_FILE:${name}>)
  # AddressSanitizer wants to be the first library loaded; the preload library is.
  set_tests_properties(${name} PROPERTIES TIMEOUT 60
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1:abort_on_error=0;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
endfunction()

file(GLOB pexil_usb_mocks CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*Mock.cpp)
foreach(source ${pexil_usb_mocks})
  pexil_add_umockdev_test(${source} pexil_camera pexil_kit)
endforeach()
