# The HTTP request engine: synchronous and asynchronous loopback GETs,
# against libcurl's easy interface in the same run.
find_package(CURL)
add_executable(http_request_bench ${CMAKE_CURRENT_SOURCE_DIR}/http_request_bench.cpp)
target_link_libraries(http_request_bench PRIVATE http testsupport benchmark::benchmark)
if(CURL_FOUND)
  target_compile_definitions(http_request_bench PRIVATE DECK_HAVE_CURL=1)
  target_link_libraries(http_request_bench PRIVATE CURL::libcurl)
endif()
