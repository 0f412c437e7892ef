# Property-list readers (XML and binary), with a write-and-read-back check on
# whatever they accept.
deck_fuzzer(plist_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/plist_fuzz.cpp foundation)
