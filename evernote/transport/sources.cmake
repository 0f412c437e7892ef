target_sources(evernote PRIVATE
  transport/URLLoadingHTTPPoster.cpp
  transport/THTTPClient.cpp
)
