# Run loops, queues and notifications, against Boost.Asio's equivalents.
find_package(Boost REQUIRED)
add_executable(runloop_bench ${CMAKE_CURRENT_SOURCE_DIR}/RunLoopBench.cpp)
target_link_libraries(runloop_bench PRIVATE foundation benchmark::benchmark Boost::boost)
