# Evernote records on the wire: our generated records against the code that
# Thrift's own compiler makes from the same fields (tests/interop IDL).
find_program(THRIFT_COMPILER_BENCH thrift)
if(THRIFT_COMPILER_BENCH AND TARGET evernote)
  set(edam_bench_dir ${CMAKE_CURRENT_BINARY_DIR}/edamcheck)
  set(edam_bench_idl_sources ${edam_bench_dir}/EdamCheck_types.cpp)
  add_custom_command(
    OUTPUT ${edam_bench_idl_sources} ${edam_bench_dir}/EdamCheck_types.h
    COMMAND ${CMAKE_COMMAND} -E make_directory ${edam_bench_dir}
    COMMAND ${THRIFT_COMPILER_BENCH} --gen cpp -out ${edam_bench_dir}
            ${CMAKE_SOURCE_DIR}/evernote/tests/interop/EdamCheck.thrift
    DEPENDS ${CMAKE_SOURCE_DIR}/evernote/tests/interop/EdamCheck.thrift)
  set_source_files_properties(${edam_bench_idl_sources} PROPERTIES COMPILE_OPTIONS "-w")
  add_executable(evernote_bench ${CMAKE_CURRENT_SOURCE_DIR}/evernote_bench.cpp ${edam_bench_idl_sources})
  target_include_directories(evernote_bench PRIVATE ${edam_bench_dir})
  target_link_libraries(evernote_bench PRIVATE evernote benchmark::benchmark benchmark::benchmark_main)
endif()

# The client's peak memory for large and hostile replies (prints, not timed).
add_executable(evernote_reply_memory ${CMAKE_CURRENT_SOURCE_DIR}/evernote_reply_memory.cpp)
target_link_libraries(evernote_reply_memory PRIVATE evernote_test_support)
