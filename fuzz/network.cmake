# HTTP response parser, cookie and challenge parsing, gzip inflation. The
# parser sources are compiled into the targets for coverage instrumentation.
deck_fuzzer(http_response_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/http_response_fuzz.cpp foundation OpenSSL::Crypto)
target_sources(http_response_fuzz PRIVATE
  ${CMAKE_SOURCE_DIR}/platform/network/ResponseParser.cpp
  ${CMAKE_SOURCE_DIR}/platform/network/HTTPMessage.cpp)
deck_fuzzer(http_cookie_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/http_cookie_fuzz.cpp network)
deck_fuzzer(gzip_inflate_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/gzip_inflate_fuzz.cpp http)
