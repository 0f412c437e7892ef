# The Twitter sharer reads account information with the JSON decoder.
target_link_libraries(sharing PUBLIC json)
deck_test(NAME sharing_twitter_tests LABEL loopback
  SOURCES tests/TwitterTests.cpp
  LIBS sharing)
