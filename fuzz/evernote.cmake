# The Evernote reply readers of both services: message headers, result
# records with every record nested in them, the clients' receive paths. The sources are
# compiled into the target so that they carry the fuzzer's instrumentation.
find_package(PkgConfig REQUIRED)
pkg_check_modules(THRIFT_FUZZ REQUIRED IMPORTED_TARGET thrift)
file(GLOB evernote_fuzz_sources
  ${CMAKE_SOURCE_DIR}/evernote/types/*.cpp
  ${CMAKE_SOURCE_DIR}/evernote/userstore/*.cpp
  ${CMAKE_SOURCE_DIR}/evernote/notestore/*.cpp)
deck_fuzzer(evernote_result_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/evernote_result_fuzz.cpp
  foundation PkgConfig::THRIFT_FUZZ)
target_sources(evernote_result_fuzz PRIVATE ${evernote_fuzz_sources})
