# Sources of this folder, appended to the core library.
list(APPEND KSTR_CORE_SOURCES
  store/Collector.cpp
  store/Data.cpp
  store/Data.h
  store/Events.cpp
  store/Events.h
  store/Exceptions.h
  store/Item.cpp
  store/Item.h
  store/ItemSet.cpp
  store/PackedPointer.h
  store/PartnerSet.cpp
  store/PartnerSet.h
  store/PathNode.h
  store/PathSubscription.h
  store/Paths.cpp
  store/Relation.h
  store/Store.cpp
  store/Store.h
  store/Type.cpp
  store/Type.h
  store/Value.cpp
  store/Value.h
  store/ValueIndex.cpp
  store/ValueIndex.h
)
