# The web view's HTML reader (readable text, links, entities) and the mail
# writer (headers, encodings, MIME structure).
deck_fuzzer(ui_html_fuzz ${CMAKE_CURRENT_LIST_DIR}/ui_html_fuzz.cpp ui)
deck_fuzzer(mail_message_fuzz ${CMAKE_CURRENT_LIST_DIR}/mail_message_fuzz.cpp mail)
