# Tests of the Evernote library and of its generator.
set(EDAM_TEST_SUPPORT
  tests/TestSupport.cpp
  tests/EDAMRecordFixtures.cpp)

deck_test(NAME evernote_tests LABEL unit
  SOURCES
    tests/RecordTests.cpp
    tests/ProtocolTests.cpp
    ${EDAM_TEST_SUPPORT}
  LIBS evernote)

deck_test(NAME evernote_loopback_tests LABEL loopback
  SOURCES
    tests/LoopbackHTTPServer.cpp
    tests/TransportTests.cpp
    tests/UserStoreTests.cpp
    ${EDAM_TEST_SUPPORT}
  LIBS evernote)
