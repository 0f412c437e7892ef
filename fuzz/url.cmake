# URL parsing, resolution and percent-encoding, and the masking of secrets
# in URLs and parameter lists for log lines.
deck_fuzzer(url_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/url_fuzz.cpp foundation)
