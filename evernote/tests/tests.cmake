# Tests of the Evernote library. The support library (bytes in and out of
# records, the generated record fixtures, a loopback HTTP server and an
# in-memory note store) is linked by name, by these tests and the sharer's.
add_library(evernote_test_support STATIC
  tests/TestSupport.cpp
  tests/LoopbackHTTPServer.cpp
  tests/MemoryNoteStore.cpp
  ${EDAM_GENERATED_DIR}/evernote/tests/EDAMRecordFixtures.cpp)
target_link_libraries(evernote_test_support PUBLIC evernote)

deck_test(NAME evernote_tests LABEL unit
  SOURCES
    tests/RecordTests.cpp
    tests/NoteStoreRecordTests.cpp
    tests/ProtocolTests.cpp
    tests/AllocationMeter.cpp
  LIBS evernote_test_support)

deck_test(NAME evernote_loopback_tests LABEL loopback
  SOURCES
    tests/TransportTests.cpp
    tests/UserStoreTests.cpp
    tests/NoteStoreTests.cpp
  LIBS evernote_test_support)

# The wire check against Thrift's own compiler (Debian thrift-compiler): C++
# generated at build time from a test-only IDL, never checked in.
find_program(THRIFT_COMPILER thrift)
if(THRIFT_COMPILER)
  set(edam_interop_dir ${CMAKE_CURRENT_BINARY_DIR}/interop)
  set(edam_interop_sources
    ${edam_interop_dir}/EdamCheck_types.cpp
    ${edam_interop_dir}/UserStore.cpp
    ${edam_interop_dir}/NoteStore.cpp)
  add_custom_command(
    OUTPUT ${edam_interop_sources} ${edam_interop_dir}/EdamCheck_types.h ${edam_interop_dir}/UserStore.h
         ${edam_interop_dir}/NoteStore.h
    COMMAND ${CMAKE_COMMAND} -E make_directory ${edam_interop_dir}
    COMMAND ${THRIFT_COMPILER} --gen cpp -out ${edam_interop_dir}
            ${CMAKE_CURRENT_SOURCE_DIR}/tests/interop/EdamCheck.thrift
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/interop/EdamCheck.thrift
    COMMENT "Compiling the interop IDL with thrift")
  set_source_files_properties(${edam_interop_sources} PROPERTIES COMPILE_OPTIONS "-w")
  deck_test(NAME evernote_interop_tests LABEL unit
    SOURCES
      tests/InteropTests.cpp
      ${edam_interop_sources}
    LIBS evernote_test_support)
  target_include_directories(evernote_interop_tests PRIVATE ${edam_interop_dir})
else()
  deck_peer_missing("thrift compiler not found: the Evernote interop test is not built")
endif()
