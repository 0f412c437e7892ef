# The fast JSON codec: decoding under every option set, then writing what was
# decoded and reading it back.
deck_fuzzer(json_fast_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/json_fast_fuzz.cpp json)
