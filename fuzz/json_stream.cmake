# Streaming JSON codec: parse whole and split, write back, read again.
deck_fuzzer(json_stream_fuzz ${CMAKE_CURRENT_LIST_DIR}/json_stream_fuzz.cpp json)
