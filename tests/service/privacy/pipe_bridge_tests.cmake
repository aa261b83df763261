# The child runner, driven against a stand-in child that writes scripted output with pauses.
add_executable(privacy_bridge_child bridge_child.cpp)
quietway_platform_sources(pipe_bridge_test_sources pipe_bridge_test)
quietway_add_gtest(pipe_bridge_tests
  SOURCES ${pipe_bridge_test_sources}
  LIBS quietway::privacy quietway::process quietway::log)
target_compile_definitions(pipe_bridge_tests PRIVATE
  QUIETWAY_BRIDGE_CHILD="$<TARGET_FILE:privacy_bridge_child>")
add_dependencies(pipe_bridge_tests privacy_bridge_child)
