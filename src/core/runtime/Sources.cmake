# Sources of this folder, appended to the core library.
list(APPEND KSTR_CORE_SOURCES
  runtime/TimerManager.h
  runtime/TimerManager.cpp
  runtime/DelayedInvoker.h
  runtime/DelayedInvoker.cpp
)
