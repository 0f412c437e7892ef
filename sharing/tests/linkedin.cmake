deck_test(NAME sharing_linkedin_tests LABEL loopback
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tests/LinkedInTests.cpp
  LIBS sharing json)
