# Sources of this folder, appended to the core library.
list(APPEND KSTR_CORE_SOURCES
  platform/Paths.h
  platform/Paths.cpp
  platform/DesktopOpener.h
  platform/DesktopOpener.cpp
  platform/FileSizeLimit.h
  platform/FileSizeLimit.cpp
  platform/FileByBytes.h
  platform/FileByBytes.cpp
  platform/LocalAddress.h
  platform/LocalAddress.cpp
  platform/RandomSource.h
  platform/RandomSource.cpp
  platform/SingleInstanceGuard.h
  platform/SingleInstanceGuard.cpp
  platform/TerminationSignals.h
  platform/TerminationSignals.cpp
)
