# One test executable per unit: pexil_add_test(NAME SOURCES a.cpp b.cpp LIBS pexil_kit)
function(pexil_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  find_package(GTest REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} pexil_testsupport GTest::gtest GTest::gmock)
  # Tests describe script steps with designated initializers and leave the rest defaulted.
  target_compile_options(${name} PRIVATE -Wno-missing-field-initializers)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 120
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=detect_leaks=1:abort_on_error=0;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
endfunction()

# A fuzz target: pexil_add_fuzzer(NAME SOURCES f.cpp LIBS pexil_kit); its seed corpus is fuzz/corpus/NAME.
function(pexil_add_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endfunction()
