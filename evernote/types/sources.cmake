target_sources(evernote PRIVATE
  types/BinaryProtocol.cpp
  types/Coder.cpp
  types/EDAMAccount.cpp
  types/EDAMConstants.cpp
  types/EDAMExceptions.cpp
  types/EDAMTypes.cpp
  types/Record.cpp
  types/Wire.cpp
)
