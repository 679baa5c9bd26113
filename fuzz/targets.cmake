# The fuzz targets: fuzz/NAME.cpp, seeds in fuzz/corpus/NAME/.
set(QIMBO_FUZZ_TARGETS
  favorites_file
  skin_db
  config_file
  bookmark_html
  chromium_bookmarks
  url_file
  shell_link
  json
  message_fields
  client_datagrams
  server_datagrams
  find_query
)
