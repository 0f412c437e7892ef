# The Facebook client and sharer against a loopback fake of the service.
deck_test(NAME facebook_tests LABEL loopback
  SOURCES tests/FacebookTests.cpp
  LIBS sharing)
