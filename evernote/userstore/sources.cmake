target_sources(evernote PRIVATE
  userstore/EDAMUserStore.cpp
  userstore/EDAMUserStoreClient.cpp
  userstore/EDAMUserStoreProcessor.cpp
  userstore/EDAMUserStoreTypes.cpp
)
