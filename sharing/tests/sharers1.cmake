# Tests of the Evernote, Foursquare, Google Reader and Instapaper sharers
# against loopback fakes that the tests start.
target_link_libraries(sharing PUBLIC evernote location json)

deck_test(NAME sharing_services1_tests LABEL loopback
  SOURCES
    tests/GoogleReaderInstapaperTests.cpp
    tests/EvernoteSharerTests.cpp
    tests/FoursquareSharerTests.cpp
    ${CMAKE_SOURCE_DIR}/evernote/tests/LoopbackHTTPServer.cpp
    ${CMAKE_SOURCE_DIR}/evernote/tests/MemoryNoteStore.cpp
    ${CMAKE_SOURCE_DIR}/evernote/tests/TestSupport.cpp
    ${CMAKE_SOURCE_DIR}/evernote/tests/EDAMRecordFixtures.cpp
  LIBS sharing)
