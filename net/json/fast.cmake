# The fast codec: token scanner, decoder, its private collections, the
# serializer and the one-call helpers.
target_sources(json PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/FJTokenScanner.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FJArray.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FJDictionary.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JSONDecoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FJValuePool.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FJSerializer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FJCategories.cpp
)

deck_test(NAME json_fast_tests LABEL unit
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/tests/FastDecoderTests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tests/FastCollectionsTests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tests/FastSerializerTests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tests/FastRoundTripTests.cpp
  LIBS json)
