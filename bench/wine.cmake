# Benchmarks under Wine: a driver that measures Tavrino.exe from another process, and
# the floor programs it is measured against in the same run (bench/wine_bench.sh runs
# them). Windows only; the 32-bit build compiles them too.

# Warnings as errors for the C floors as well (tavrino_warnings covers C++ only).
function(tavrino_wine_bench_c_warnings target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:C>:-Wall -Wextra -Wpedantic -Wshadow -Werror>)
endfunction()

add_executable(wine_driver ${CMAKE_CURRENT_LIST_DIR}/wine_driver.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/temp_dir.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/ui_driver_win.cpp)
target_include_directories(wine_driver PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(wine_driver PRIVATE user32 psapi kernel32)
tavrino_warnings(wine_driver)

# The floor of the footprint and start-up: one dialog with one static text.
add_executable(wine_min_dialog WIN32 ${CMAKE_CURRENT_LIST_DIR}/wine_min_dialog.c
  ${CMAKE_CURRENT_LIST_DIR}/wine_min_dialog.rc)
target_link_libraries(wine_min_dialog PRIVATE user32 kernel32)
tavrino_warnings(wine_min_dialog)
tavrino_wine_bench_c_warnings(wine_min_dialog)

# The same with the program's manifest (common controls 6, scale awareness).
add_executable(wine_min_dialog_styled WIN32 ${CMAKE_CURRENT_LIST_DIR}/wine_min_dialog.c
  ${CMAKE_CURRENT_LIST_DIR}/wine_min_dialog_styled.rc)
target_link_libraries(wine_min_dialog_styled PRIVATE user32 kernel32)
tavrino_warnings(wine_min_dialog_styled)
tavrino_wine_bench_c_warnings(wine_min_dialog_styled)

# The floor of the Check figure: one blocking SNTP exchange on a button's click.
add_executable(wine_sntp_dialog WIN32 ${CMAKE_CURRENT_LIST_DIR}/wine_sntp_dialog.c
  ${CMAKE_CURRENT_LIST_DIR}/wine_sntp_dialog.rc)
target_link_libraries(wine_sntp_dialog PRIVATE ws2_32 user32 kernel32)
tavrino_warnings(wine_sntp_dialog)
tavrino_wine_bench_c_warnings(wine_sntp_dialog)

# The floor of the engine's figures: SNTP queries with nothing but Winsock.
add_executable(wine_raw_query ${CMAKE_CURRENT_LIST_DIR}/wine_raw_query.c)
target_link_libraries(wine_raw_query PRIVATE ws2_32 kernel32)
tavrino_warnings(wine_raw_query)
tavrino_wine_bench_c_warnings(wine_raw_query)

# The engine's own check (the portable query program of the native benchmarks), as a
# Windows console program; built when that program is there.
if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/engine_query.cpp)
  add_executable(engine_query_win ${CMAKE_CURRENT_LIST_DIR}/engine_query.cpp)
  target_link_libraries(engine_query_win PRIVATE tavlogging)
  tavrino_warnings(engine_query_win)
  # Its --nts loads TavrinoNts.dll from its own folder, as the programs do: a copy there.
  if(TARGET TavrinoNts)
    add_dependencies(engine_query_win TavrinoNts)
    add_custom_command(TARGET engine_query_win POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:TavrinoNts>
        $<TARGET_FILE_DIR:engine_query_win>)
  endif()
endif()
