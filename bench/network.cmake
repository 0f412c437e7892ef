# HTTP response parsing and loopback fetches, against libcurl in the same run.
find_package(CURL)
add_executable(network_bench ${CMAKE_CURRENT_SOURCE_DIR}/network_bench.cpp)
target_link_libraries(network_bench PRIVATE network testsupport benchmark::benchmark)
if(CURL_FOUND)
  target_compile_definitions(network_bench PRIVATE DECK_HAVE_CURL=1)
  target_link_libraries(network_bench PRIVATE CURL::libcurl)
endif()
