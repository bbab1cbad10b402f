# Sources of this folder, appended to the core library.
list(APPEND KSTR_CORE_SOURCES
)
