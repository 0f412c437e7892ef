# The fast JSON codec: decoding under every option set, then writing what was
# decoded and reading it back. The codec's sources are compiled into the
# target so that they carry the fuzzer's coverage instrumentation.
deck_fuzzer(json_fast_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/json_fast_fuzz.cpp foundation)
target_sources(json_fast_fuzz PRIVATE
  ${CMAKE_SOURCE_DIR}/net/json/FJTokenScanner.cpp
  ${CMAKE_SOURCE_DIR}/net/json/FJArray.cpp
  ${CMAKE_SOURCE_DIR}/net/json/FJDictionary.cpp
  ${CMAKE_SOURCE_DIR}/net/json/JSONDecoder.cpp
  ${CMAKE_SOURCE_DIR}/net/json/FJSerializer.cpp)
