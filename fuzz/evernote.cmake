# The Evernote reply readers of both services: message headers, result
# records with every record nested in them, the clients' receive paths.
deck_fuzzer(evernote_result_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/evernote_result_fuzz.cpp evernote)
