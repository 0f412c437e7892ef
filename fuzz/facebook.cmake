# The Facebook client's reply and URL parsers.
deck_fuzzer(facebook_reply_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/facebook_reply_fuzz.cpp sharing)
target_sources(facebook_reply_fuzz PRIVATE
  ${CMAKE_SOURCE_DIR}/sharing/facebook/FBRequest.cpp
  ${CMAKE_SOURCE_DIR}/sharing/facebook/FBDialog.cpp
  ${CMAKE_SOURCE_DIR}/sharing/facebook/Facebook.cpp)
