# Base64 decoding and the keychain file reader. The keychain's sources are
# compiled into the target with the definition that skips the file checksum,
# so that mutated files reach the item reader (the library keeps the check).
find_package(OpenSSL REQUIRED)
deck_fuzzer(keychain_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/keychain_fuzz.cpp foundation OpenSSL::Crypto)
target_sources(keychain_fuzz PRIVATE
  ${CMAKE_SOURCE_DIR}/platform/security/Base64.cpp
  ${CMAKE_SOURCE_DIR}/platform/security/Digest.cpp
  ${CMAKE_SOURCE_DIR}/platform/security/Keychain.cpp)
target_compile_definitions(keychain_fuzz PRIVATE FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION)
