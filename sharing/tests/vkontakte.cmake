deck_test(NAME sharing_vkontakte_tests LABEL loopback
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tests/VkontakteTests.cpp
  LIBS sharing json)
