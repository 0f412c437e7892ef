# App start-up on a generated 10,000-card bundle against the bare reading of
# the same property lists.
if(TARGET app)
  add_executable(startup_bench ${CMAKE_CURRENT_SOURCE_DIR}/startup_bench.cpp)
  target_link_libraries(startup_bench PRIVATE app benchmark::benchmark)
endif()
