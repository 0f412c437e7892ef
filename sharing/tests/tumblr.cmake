deck_test(NAME sharing_tumblr_tests LABEL loopback
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tests/TumblrTests.cpp
  LIBS sharing json)
