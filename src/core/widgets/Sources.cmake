# Widget side of the core.
list(APPEND KSTR_CORE_WIDGETS_SOURCES
  widgets/UIFunctions.h
  widgets/UIFunctions.cpp
  widgets/LogForm.h
  widgets/LogForm.cpp
  widgets/DiagnosticsForm.h
  widgets/DiagnosticsForm.cpp
  widgets/ItemLogDialog.h
  widgets/ItemLogDialog.cpp
  widgets/DesktopServicesOpener.h
  widgets/DesktopServicesOpener.cpp
)
