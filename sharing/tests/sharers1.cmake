# Tests of the Evernote, Foursquare, Google Reader and Instapaper sharers
# against loopback fakes that the tests start.
target_link_libraries(sharing PUBLIC evernote)

deck_test(NAME sharing_services1_tests LABEL loopback
  SOURCES
    tests/GoogleReaderInstapaperTests.cpp
    ${CMAKE_SOURCE_DIR}/evernote/tests/LoopbackHTTPServer.cpp
  LIBS sharing)
