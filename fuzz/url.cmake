# URL parsing, resolution and percent-encoding. The URL sources are compiled
# into the target so that they carry the fuzzer's coverage instrumentation.
deck_fuzzer(url_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/url_fuzz.cpp foundation)
target_sources(url_fuzz PRIVATE
  ${CMAKE_SOURCE_DIR}/platform/foundation/URL.cpp
  ${CMAKE_SOURCE_DIR}/platform/foundation/PercentEncoding.cpp
  ${CMAKE_SOURCE_DIR}/platform/foundation/Format.cpp)
