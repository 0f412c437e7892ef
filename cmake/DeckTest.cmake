# deck_test(NAME <name> LABEL <unit|loopback|peer> SOURCES ... LIBS ...)
# Builds one GoogleTest executable and registers each of its tests with CTest
# under the given label.
find_package(GTest REQUIRED)
include(GoogleTest)

function(deck_test)
  cmake_parse_arguments(T "" "NAME;LABEL" "SOURCES;LIBS" ${ARGN})
  if(NOT T_LABEL)
    set(T_LABEL unit)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${T_NAME} PRIVATE DECK_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  gtest_discover_tests(${T_NAME}
    PROPERTIES LABELS ${T_LABEL}
    DISCOVERY_TIMEOUT 60)
endfunction()

# deck_peer_missing(<what is missing>)
# A peer a test is built against (thrift's compiler, for one) is missing: a
# warning on a developer's machine, a configure error where the environment
# sets DECK_REQUIRE_PEERS (CI does), so that a test is never dropped in
# silence.
function(deck_peer_missing what)
  if(DEFINED ENV{DECK_REQUIRE_PEERS} AND NOT "$ENV{DECK_REQUIRE_PEERS}" STREQUAL "0")
    message(FATAL_ERROR "${what} (DECK_REQUIRE_PEERS is set)")
  else()
    message(WARNING "${what}")
  endif()
endfunction()
