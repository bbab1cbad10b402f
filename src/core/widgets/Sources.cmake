# Widget side of the core.
list(APPEND KSTR_CORE_WIDGETS_SOURCES
  widgets/UIFunctions.h
  widgets/UIFunctions.cpp
)
