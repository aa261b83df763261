# The engine end to end in the lab (Linux, root): quietway_service -f in the lab's client
# namespace, driven through the control API and quietway_ctl against the lab's real servers.
if(NOT WIN32)
  add_test(NAME engine_lab
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/engine_lab_test.sh
                   $<TARGET_FILE:quietway_service> $<TARGET_FILE:quietway_ctl>
                   $<TARGET_FILE:quietway_reg>)
  set_tests_properties(engine_lab PROPERTIES LABELS "integration;lab" RUN_SERIAL TRUE TIMEOUT 900)
endif()
