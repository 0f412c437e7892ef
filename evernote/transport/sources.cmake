target_sources(evernote PRIVATE
  transport/SocketHTTPPoster.cpp
  transport/THTTPClient.cpp
)
