# Streaming JSON codec: tokeniser, event parser, adapter, one-call parser,
# stream writer, one-call writer and the string/object entry points.
target_sources(json PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/JsonTokeniser.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JsonStreamParser.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JsonStreamParserAdapter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JsonParser.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JsonStreamWriter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JsonValueKind.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JsonWriter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JsonCategories.cpp
)

deck_test(NAME json_stream_tests LABEL unit
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/tests/StreamParserTests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tests/StreamSplitTests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tests/StreamWriterTests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tests/StreamRoundTripTests.cpp
  LIBS json)
