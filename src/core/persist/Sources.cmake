# Sources of this folder, appended to the core library.
list(APPEND KSTR_CORE_SOURCES
  persist/DataFile.cpp
  persist/DataFile.h
  persist/DataSaver.cpp
  persist/DataSaver.h
  persist/FileCommit.cpp
  persist/FileCommit.h
  persist/Settings.cpp
  persist/Settings.h
)
