# Peak memory of the HTTP engine and URL loading against a gzip bomb and a
# body that never ends (each case in a child process of its own).
find_package(ZLIB REQUIRED)
add_executable(http_memory_bench ${CMAKE_CURRENT_SOURCE_DIR}/http_memory_bench.cpp)
target_link_libraries(http_memory_bench PRIVATE http network testsupport benchmark::benchmark ZLIB::ZLIB)
