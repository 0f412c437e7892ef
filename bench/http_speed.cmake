# The HTTP client against libcurl, both fetching from an nginx the benchmark
# starts: sequential and concurrent small GETs, a large body to memory and to
# a file, a gzip body.
find_package(CURL REQUIRED)
find_package(ZLIB REQUIRED)
add_executable(http_speed_bench ${CMAKE_CURRENT_SOURCE_DIR}/http_speed_bench.cpp)
target_include_directories(http_speed_bench PRIVATE ${CMAKE_SOURCE_DIR}/platform/network)
target_link_libraries(http_speed_bench PRIVATE http benchmark::benchmark CURL::libcurl ZLIB::ZLIB)
