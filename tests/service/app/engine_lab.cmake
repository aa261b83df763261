# The engine end to end in the lab (Linux, root): quietway_service -f in the lab's client
# namespace, driven through the control API and quietway_ctl against the lab's real servers.
if(NOT WIN32)
  add_test(NAME engine_lab
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/engine_lab_test.sh
                   $<TARGET_FILE:quietway_service> $<TARGET_FILE:quietway_ctl>
                   $<TARGET_FILE:quietway_reg>)
  set_tests_properties(engine_lab PROPERTIES LABELS "integration;lab" RUN_SERIAL TRUE TIMEOUT 900)
endif()

# Load: API calls and pipe commands from several clients while the tunnel comes and goes.
if(NOT WIN32)
  add_executable(engine_load_client engine_load_client.cpp ../rpc/raw_http_client_posix.cpp)
  target_link_libraries(engine_load_client PRIVATE quietway::rpc quietway::pipe quietway::store
                                                   quietway::jsoncpp Threads::Threads)
  add_test(NAME engine_load_lab
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/engine_load_lab_test.sh
                   $<TARGET_FILE:quietway_service> $<TARGET_FILE:quietway_reg>
                   $<TARGET_FILE:engine_load_client>)
  set_tests_properties(engine_load_lab PROPERTIES LABELS "integration;lab" RUN_SERIAL TRUE
                                                  TIMEOUT 1200)
endif()
