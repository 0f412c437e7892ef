deck_test(NAME sharing_bookmark_tests LABEL loopback
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tests/BookmarkSharersTests.cpp
  LIBS sharing json)
