# Sources of this folder, appended to the core library.
list(APPEND KSTR_CORE_SOURCES
  util/GeneralFunctions.h
  util/GeneralFunctions.cpp
  util/Md5.h
  util/Md5.cpp
  util/WallClock.h
  util/WallClock.cpp
)
