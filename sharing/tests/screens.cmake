# The framework's own screens: forms and option lists, activity indicator,
# share action sheet, share menu and the OAuth web view.
deck_test(NAME sharing_screens_tests LABEL unit
  SOURCES tests/SharingScreensTests.cpp
  LIBS sharing)
