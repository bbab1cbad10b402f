# Sources of this folder, appended to the core library.
list(APPEND KSTR_CORE_SOURCES
  io/rcptr.h
  io/Stream.h
  io/Stream.cpp
  io/MemStream.h
  io/MemStream.cpp
  io/ByteArrayInputStream.h
  io/ByteArrayInputStream.cpp
  io/Persistent.h
  io/FileInfo.h
  io/FileInfo.cpp
  io/UserStats.h
  io/UserStats.cpp
)
