# OAuth replies, form bodies, callback queries and image data of the
# sharing framework.
deck_fuzzer(sharing_replies_fuzz ${CMAKE_CURRENT_LIST_DIR}/sharing_replies_fuzz.cpp sharing)
