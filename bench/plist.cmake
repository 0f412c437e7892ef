# Property lists: reading and writing a generated 10,000-card deck with our
# readers and with libplist on the same bytes.
find_package(PkgConfig)
if(PkgConfig_FOUND)
  pkg_check_modules(LIBPLIST IMPORTED_TARGET libplist-2.0)
endif()
add_executable(plist_bench ${CMAKE_CURRENT_LIST_DIR}/plist_bench.cpp)
target_link_libraries(plist_bench PRIVATE foundation benchmark::benchmark benchmark::benchmark_main)
if(LIBPLIST_FOUND)
  target_link_libraries(plist_bench PRIVATE PkgConfig::LIBPLIST)
  target_compile_definitions(plist_bench PRIVATE DECK_HAVE_LIBPLIST=1)
endif()
