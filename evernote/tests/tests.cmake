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
