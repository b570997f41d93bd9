# The network announcement of "pexilctl geo receive", checked end to end in private
# namespaces with their own D-Bus and avahi-daemon. Skipped, with the reason printed, where
# such a sandbox cannot be made (not root, no namespaces, tools missing).
add_test(NAME GeoAvahiAdvertisement
  COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/avahi-advertisement.sh $<TARGET_FILE:pexilctl>)
set_tests_properties(GeoAvahiAdvertisement PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120
  ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
