# Tests of the Evernote, Foursquare, Google Reader and Instapaper sharers
# against loopback fakes that the tests start.
target_link_libraries(sharing PUBLIC evernote location json)

deck_test(NAME sharing_services1_tests LABEL loopback
  SOURCES
    tests/GoogleReaderInstapaperTests.cpp
    tests/EvernoteSharerTests.cpp
    tests/FoursquareSharerTests.cpp
  LIBS sharing evernote_test_support)
