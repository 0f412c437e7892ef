# Streaming JSON codec: parse and walk a real document, beside RapidJSON and
# nlohmann-json on the same bytes.
add_executable(json_stream_bench ${CMAKE_CURRENT_LIST_DIR}/json_stream_bench.cpp)
target_link_libraries(json_stream_bench PRIVATE json benchmark::benchmark benchmark::benchmark_main)
target_compile_definitions(json_stream_bench PRIVATE
  DECK_JSON_DATA_DIR="${CMAKE_SOURCE_DIR}/../shared/data/json")
