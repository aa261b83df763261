# The system proxy switch. Linux (root): a private session bus and settings of the user
# "nobody". Windows: the Wine prefix's own internet settings, with the test child program
# standing in for the browser-settings refresher.
quietway_platform_sources(proxy_switch_test_sources proxy_switch_test)
set(proxy_switch_lock)
if(WIN32)
  set(proxy_switch_lock wine_registry)
endif()
quietway_add_gtest(proxy_switch_tests
  SOURCES ${proxy_switch_test_sources}
  LIBS quietway::privacy quietway::process quietway::store quietway::log
  LABELS integration
  LOCKS ${proxy_switch_lock})
if(WIN32)
  target_link_libraries(proxy_switch_tests PRIVATE wininet)
  target_compile_definitions(proxy_switch_tests PRIVATE
    QUIETWAY_REFRESHER_STAND_IN="$<TARGET_FILE:process_child>")
  add_dependencies(proxy_switch_tests process_child)
endif()
