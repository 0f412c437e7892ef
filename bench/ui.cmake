# The headless interface: typing long texts key by key.
if(TARGET mail)
  add_executable(ui_typing_bench ${CMAKE_CURRENT_SOURCE_DIR}/ui_typing_bench.cpp)
  target_link_libraries(ui_typing_bench PRIVATE mail benchmark::benchmark)
endif()
