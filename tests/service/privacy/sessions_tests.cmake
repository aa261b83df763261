# The two tunnel sessions: their arguments, limits and token tables; against the lab's real
# servers on Linux.
quietway_add_gtest(privacy_sessions_tests
  SOURCES sessions_test.cpp
  LIBS quietway::privacy quietway::log)

if(NOT WIN32)
  add_executable(sessions_lab_tool sessions_lab_tool.cpp)
  target_link_libraries(sessions_lab_tool PRIVATE quietway::privacy quietway::log)
  add_test(NAME privacy_sessions_lab
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/sessions_lab_test.sh
                   $<TARGET_FILE:sessions_lab_tool> $<TARGET_FILE:privacy_lab_tool>
                   $<TARGET_FILE:quietway_reg>)
  set_tests_properties(privacy_sessions_lab PROPERTIES LABELS "integration;lab" RUN_SERIAL TRUE
                                                       TIMEOUT 600)
endif()
