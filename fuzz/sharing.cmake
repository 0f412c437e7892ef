# OAuth replies, form bodies, callback queries and image data of the
# sharing framework. The readers' sources are compiled into the target so
# that they carry the fuzzer's coverage instrumentation.
find_package(PNG REQUIRED)
find_package(JPEG REQUIRED)
deck_fuzzer(sharing_replies_fuzz ${CMAKE_CURRENT_LIST_DIR}/sharing_replies_fuzz.cpp sharing PNG::PNG JPEG::JPEG)
target_sources(sharing_replies_fuzz PRIVATE
  ${CMAKE_SOURCE_DIR}/sharing/oauth/OAuth.cpp
  ${CMAKE_SOURCE_DIR}/sharing/core/ImageCoding.cpp)
