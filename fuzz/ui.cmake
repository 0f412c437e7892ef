# The web view's HTML reader (readable text, links, entities) and the mail
# writer (headers, encodings, MIME structure). Sources are compiled into the
# targets so that they carry the fuzzer's coverage instrumentation.
deck_fuzzer(ui_html_fuzz ${CMAKE_CURRENT_LIST_DIR}/ui_html_fuzz.cpp foundation)
target_sources(ui_html_fuzz PRIVATE ${CMAKE_SOURCE_DIR}/platform/ui/HTMLText.cpp)
deck_fuzzer(mail_message_fuzz ${CMAKE_CURRENT_LIST_DIR}/mail_message_fuzz.cpp ui)
target_sources(mail_message_fuzz PRIVATE ${CMAKE_SOURCE_DIR}/platform/mail/MailMessage.cpp)
