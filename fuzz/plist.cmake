# Property-list readers (XML and binary), with a write-and-read-back check on
# whatever they accept. The property-list sources are compiled into the
# target so that they carry the fuzzer's coverage instrumentation.
deck_fuzzer(plist_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/plist_fuzz.cpp foundation)
target_sources(plist_fuzz PRIVATE
  ${CMAKE_SOURCE_DIR}/platform/foundation/PropertyList.cpp
  ${CMAKE_SOURCE_DIR}/platform/foundation/PropertyListSupport.cpp
  ${CMAKE_SOURCE_DIR}/platform/foundation/PropertyListXMLReader.cpp
  ${CMAKE_SOURCE_DIR}/platform/foundation/PropertyListBinaryReader.cpp
  ${CMAKE_SOURCE_DIR}/platform/foundation/PropertyListWriter.cpp)
