# HTTP response parser, cookie and challenge parsing, gzip inflation.
deck_fuzzer(http_response_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/http_response_fuzz.cpp network)
deck_fuzzer(http_cookie_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/http_cookie_fuzz.cpp network)
deck_fuzzer(gzip_inflate_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/gzip_inflate_fuzz.cpp http)
