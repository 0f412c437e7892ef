# The Evernote reply readers of both services: message headers, result
# records with every record nested in them, the clients' receive paths. The
# library's sources (hand-written and generated, without the HTTP transport)
# are compiled into the target so that they carry the fuzzer's
# instrumentation.
find_package(PkgConfig REQUIRED)
pkg_check_modules(THRIFT_FUZZ REQUIRED IMPORTED_TARGET thrift)
find_package(Boost REQUIRED)
get_target_property(evernote_fuzz_sources evernote SOURCES)
get_target_property(evernote_source_dir evernote SOURCE_DIR)
list(TRANSFORM evernote_fuzz_sources PREPEND ${evernote_source_dir}/ REGEX "^[^/]")
list(FILTER evernote_fuzz_sources EXCLUDE REGEX "/transport/")
deck_fuzzer(evernote_result_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/evernote_result_fuzz.cpp
  foundation PkgConfig::THRIFT_FUZZ Boost::headers)
target_sources(evernote_result_fuzz PRIVATE ${evernote_fuzz_sources})
target_include_directories(evernote_result_fuzz PRIVATE $<TARGET_PROPERTY:evernote,INTERFACE_INCLUDE_DIRECTORIES>)
add_dependencies(evernote_result_fuzz edam_generated)
