target_sources(evernote PRIVATE
  notestore/EDAMNoteStore.cpp
  notestore/EDAMNoteStoreClient.cpp
  notestore/EDAMNoteStoreProcessor.cpp
  notestore/EDAMNoteStoreTypes.cpp
)
