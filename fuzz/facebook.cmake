# The Facebook client's reply and URL parsers.
deck_fuzzer(facebook_reply_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/facebook_reply_fuzz.cpp sharing)
