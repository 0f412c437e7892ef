# JSON decoding and writing: the fast codec against RapidJSON, simdjson and
# nlohmann-json (Debian packages rapidjson-dev, libsimdjson-dev,
# nlohmann-json3-dev). Documents come from the shared data folder; the
# environment variable DECK_JSON_DATA overrides it at run time.
find_package(simdjson REQUIRED)
find_package(nlohmann_json REQUIRED)
add_executable(json_bench ${CMAKE_CURRENT_SOURCE_DIR}/json_bench.cpp)
target_link_libraries(json_bench PRIVATE json benchmark::benchmark simdjson::simdjson nlohmann_json::nlohmann_json)
target_compile_definitions(json_bench PRIVATE DECK_JSON_DATA_DIR="${CMAKE_SOURCE_DIR}/../shared/data/json")
