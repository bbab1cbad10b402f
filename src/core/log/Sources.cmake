# Sources of this folder, appended to the core library.
list(APPEND KSTR_CORE_SOURCES
  log/Log.h
  log/Log.cpp
  log/LogLine.h
  log/LogLine.cpp
  log/LogFileWriter.h
  log/LogFileWriter.cpp
  log/LogHistory.h
  log/LogHistory.cpp
  log/LogService.h
)
