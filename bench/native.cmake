# The native benchmark programs (see scripts/bench). The C programs are the
# yardsticks and the harness: a time server that stamps at the socket, a minimal
# client, a timer of whole processes, and a relay that plays a network's delays and
# losses. The two
# C++ programs run the engine's own check and adjustment; they are portable, and the
# Windows build makes its own copies of them for the figures under Wine.
if(NOT WIN32)
  add_executable(offset_server ${CMAKE_CURRENT_SOURCE_DIR}/offset_server.c)
  add_executable(raw_client ${CMAKE_CURRENT_SOURCE_DIR}/raw_client.c)
  add_executable(spawn_time ${CMAKE_CURRENT_SOURCE_DIR}/spawn_time.c)
  add_executable(net_emulator ${CMAKE_CURRENT_SOURCE_DIR}/net_emulator.c)
  foreach(target offset_server raw_client spawn_time net_emulator)
    target_compile_options(${target} PRIVATE -std=c11 -Wall -Wextra -Wpedantic -Werror)
    target_link_libraries(${target} PRIVATE m)
  endforeach()

  add_executable(engine_query ${CMAKE_CURRENT_SOURCE_DIR}/engine_query.cpp)
  add_executable(adjust_precision ${CMAKE_CURRENT_SOURCE_DIR}/adjust_precision.cpp)
  foreach(target engine_query adjust_precision)
    target_link_libraries(${target} PRIVATE tavlogging)
    tavrino_warnings(${target})
  endforeach()
  # The authenticated check (--nts): the cryptography linked in, as the native tests have it.
  target_link_libraries(engine_query PRIVATE tavnts)

  # What scripts/bench builds.
  add_custom_target(bench_native DEPENDS offset_server raw_client spawn_time net_emulator engine_query adjust_precision)
endif()
